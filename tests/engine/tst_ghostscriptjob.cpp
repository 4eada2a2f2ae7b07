#include "engine/ghostscriptjob.h"

#include "common/filesystem.h"
#include "common/runtimeerror.h"

#include "support/testfiles.h"
#include "support/testregistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace GhostscriptJob;

namespace {

// A working folder inside a folder of its own, so that a test can see
// whether anything beside the working folder was touched.
struct Workplace
{
    QTemporaryDir root;
    QString folder = root.filePath("ps");
    Workplace() { QDir().mkpath(folder); }
    ~Workplace() { FileSystem::SetApplicationFolder(QString()); }
    QString file(const QString &name) const { return folder + u'/' + name; }

    // A Ghostscript of the application folder's own, and its copy in the
    // working folder, as a run's refresh leaves it.
    void ownGhostscript(const QByteArray &body) const
    {
        QDir().mkpath(root.filePath("application/ps"));
        WriteScript(root.filePath("application/ps/gs"), body);
        WriteScript(file("gs"), body);
        FileSystem::SetApplicationFolder(root.filePath("application"));
    }

    void writeScript(int quality) const { SaveStringToFile(file(ScriptName()), ScriptText(quality)); }
    void stage(const QString &eps) const
    {
        QFile::remove(file(StagedInputName));
        QVERIFY(QFile::copy(eps, file(StagedInputName)));
    }
};

} // namespace

class GhostscriptJobTest : public QObject
{
    Q_OBJECT

private slots:
    void scriptBytes_data()
    {
        QTest::addColumn<int>("flavour");
        QTest::addColumn<int>("quality");
        QTest::addColumn<QByteArray>("bytes");
        const int w = int(PathFlavour::Windows), l = int(PathFlavour::Linux);
        QTest::newRow("windows 75")
            << w << 75
            << QByteArray("gswin32c -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=75 -dDOINTERPOLATE "
                          "-dGraphicsAlphaBits=4 -dEPSCrop -sOutputFile=current.jpg current.eps\r\n"
                          "del current.eps\r\n");
        // Ghostscript reads 0 as none given, and writes 75.
        QTest::newRow("windows 0, the lowest")
            << w << 0
            << QByteArray("gswin32c -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=1 -dDOINTERPOLATE "
                          "-dGraphicsAlphaBits=4 -dEPSCrop -sOutputFile=current.jpg current.eps\r\n"
                          "del current.eps\r\n");
        QTest::newRow("windows 100")
            << w << 100
            << QByteArray("gswin32c -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=100 -dDOINTERPOLATE "
                          "-dGraphicsAlphaBits=4 -dEPSCrop -sOutputFile=current.jpg current.eps\r\n"
                          "del current.eps\r\n");
        QTest::newRow("linux 75") << l << 75
                                  << QByteArray("gs -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=75 -dDOINTERPOLATE "
                                                "-dGraphicsAlphaBits=4 -dEPSCrop -sOutputFile=current.jpg current.eps\n"
                                                "rm -f current.eps\n");
    }
    void scriptBytes()
    {
        QFETCH(int, flavour);
        QFETCH(int, quality);
        QFETCH(QByteArray, bytes);
        QTemporaryDir folder;
        const QString path = folder.filePath(ScriptName(PathFlavour(flavour)));
        SaveStringToFile(path, ScriptText(quality, PathFlavour(flavour)), PathFlavour(flavour));
        QCOMPARE(ReadBytes(path), bytes);
    }

    void scriptNames()
    {
        QCOMPARE(ScriptName(PathFlavour::Windows), QString("eps2jpg.bat"));
        QCOMPARE(ScriptName(PathFlavour::Linux), QString("eps2jpg.sh"));
    }

    void writerReplacesAndFailsClearly()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("eps2jpg.sh");
        SaveStringToFile(path, ScriptText(100));
        SaveStringToFile(path, ScriptText(5));
        QVERIFY(ReadBytes(path).contains("-dJPEGQ=5 "));
        QVERIFY(!ReadBytes(path).contains("-dJPEGQ=100"));
        try {
            SaveStringToFile(folder.filePath("missing/eps2jpg.sh"), ScriptText(75));
            QFAIL("writing into a missing folder succeeded");
        } catch (const RuntimeError &error) {
            QCOMPARE(error.number(), 76);
            QVERIFY(error.description().contains("missing"));
        }
    }

    void realGhostscriptMatchesADirectRun_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("ghostscriptQuality"); // what a direct run is given for it
        QTest::newRow("75") << 75 << 75;
        QTest::newRow("0, the lowest") << 0 << 1;
        QTest::newRow("100") << 100 << 100;
    }
    void realGhostscriptMatchesADirectRun()
    {
        QFETCH(int, quality);
        QFETCH(int, ghostscriptQuality);
        Workplace work;
        work.writeScript(quality);
        work.stage(TestDataPath("shapes.eps"));
        int showMode = 0;
        const Shell32::WaitResult result = Shell32::ShellAndWait('"' + work.file(ScriptName()) + '"', &showMode,
                                                                 work.folder + "/");
        QVERIFY(result.ended());
        QCOMPARE(result.exitCode, 0);
        QVERIFY(!QFileInfo::exists(work.file(StagedInputName)));
        const QByteArray image = ReadBytes(work.file(StagedOutputName));
        QVERIFY(image.startsWith("\xFF\xD8"));
        QCOMPARE(image, GhostscriptReference(TestDataPath("shapes.eps"), ghostscriptQuality));
    }

    void ghostscriptOfTheApplicationFolderWins_data()
    {
        QTest::addColumn<bool>("ownCopy");
        QTest::newRow("copied from the application folder") << true;
        // One an earlier job left there is never started: the system's runs.
        QTest::newRow("only in the working folder") << false;
    }
    void ghostscriptOfTheApplicationFolderWins()
    {
        QFETCH(bool, ownCopy);
        Workplace work;
        work.writeScript(75);
        if (ownCopy)
            work.ownGhostscript("echo \"fake $*\" > current.jpg\n");
        else
            WriteScript(work.file("gs"), "echo \"fake $*\" > current.jpg\n");
        work.stage(TestDataPath("shapes.eps"));
        QCOMPARE(RunJob(work.folder), Shell32::WaitResult{}); // exited with 0, said nothing
        const QByteArray image = ReadBytes(work.file(StagedOutputName));
        if (ownCopy)
            QVERIFY(image.startsWith("fake -dSAFER"));
        else
            QCOMPARE(image, GhostscriptReference(TestDataPath("shapes.eps"), 75));
        QVERIFY(!QFileInfo::exists(work.file(StagedInputName)));
    }

    void failingGhostscriptLeavesNoImage()
    {
        Workplace work;
        work.writeScript(75);
        work.ownGhostscript("echo broken >&2\nexit 1\n");
        work.stage(TestDataPath("shapes.eps"));
        RunJob(work.folder);
        QVERIFY(!QFileInfo::exists(work.file(StagedOutputName)));
        QVERIFY(!QFileInfo::exists(work.file(StagedInputName)));
    }

    void rejectedPostScriptLeavesNoImage()
    {
        Workplace work;
        work.writeScript(75);
        work.stage(TestDataPath("broken.eps"));
        RunJob(work.folder);
        QVERIFY(!QFileInfo::exists(work.file(StagedOutputName)));
        QVERIFY(!QFileInfo::exists(work.file(StagedInputName)));
    }

    void neverEndingGhostscriptIsStopped()
    {
        Workplace work;
        work.writeScript(75);
        // Spins in the shell: the sandbox lets it start no other program.
        work.ownGhostscript(": > gs.started\nwhile :; do :; done\n");
        work.stage(TestDataPath("shapes.eps"));
        QCOMPARE(RunJob(work.folder, std::chrono::milliseconds(500)).ending, RunEnding::TimedOut);
        QVERIFY(QFileInfo::exists(work.file("gs.started")));
        QTRY_COMPARE(FindGhostscriptIn(work.folder), 0);
        QVERIFY(!QFileInfo::exists(QFile::decodeName(
            GhostscriptPolicy::temporaryFolder(QFile::encodeName(work.folder).toStdString()).c_str())));
    }

    // A job started ahead waits, sandbox made, for its turn: it runs the
    // script as its turn finds it, and one whose turn never comes runs nothing.
    void aJobStartedAheadRunsOnlyInItsTurn()
    {
        if (!Sandbox::canHold())
            QSKIP("no start is held here");
        Workplace work;
        work.writeScript(75);
        work.ownGhostscript("echo \"$*\" >> runs.txt\necho fake > current.jpg\n");
        work.stage(TestDataPath("shapes.eps"));
        {
            Jobs jobs(work.folder);
            jobs.startAhead();
            QTest::qWait(500); // time enough for a start that does not wait to run
            QVERIFY(!QFileInfo::exists(work.file("runs.txt")));
            work.writeScript(50);
            QCOMPARE(jobs.run(true), Shell32::WaitResult{}); // exited with 0, said nothing
            QTest::qWait(500);
        } // with the one started ahead for an entry that never came
        const QList<QByteArray> runs = ReadBytes(work.file("runs.txt")).trimmed().split('\n');
        QCOMPARE(runs.size(), 1);
        QVERIFY2(runs.first().contains(" -dJPEGQ=50 "), runs.first().constData());
        QVERIFY(!QFileInfo::exists(work.file(StagedInputName)));
        QVERIFY(!QFileInfo::exists(QFile::decodeName(
            GhostscriptPolicy::temporaryFolder(QFile::encodeName(work.folder).toStdString()).c_str())));
    }

    // What a job may write counts from its turn: what was there when it was
    // started ahead (the job before it still writing, say) is no allowance.
    void aJobStartedAheadIsBoundFromItsTurn()
    {
        if (!Sandbox::canHold())
            QSKIP("no start is held here");
        Workplace work;
        work.writeScript(75);
        // Two files of 900 MB each, sparse, in Ghostscript's own temporary
        // folder, where safe mode lets a document write.
        const QByteArray temporary =
            QByteArray::fromStdString(GhostscriptPolicy::temporaryFolder(QFile::encodeName(work.folder).toStdString()));
        WriteBytes(work.root.filePath("large.eps"),
                   "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n%%EndComments\n[(" + temporary + "/a) ("
                       + temporary
                       + "/b)] { (w) file dup 943718400 setfileposition dup (x) writestring closefile } forall\n"
                         "0 0 10 10 rectfill showpage\n");
        work.stage(work.root.filePath("large.eps"));
        QFile left(work.file("left.bin"));
        QVERIFY(left.open(QIODevice::WriteOnly) && left.resize(qint64(2) << 30));
        left.close();
        Jobs jobs(work.folder);
        jobs.startAhead();
        QTest::qWait(500);
        QVERIFY(left.remove());
        QCOMPARE(jobs.run().ending, RunEnding::Outgrown);
    }

    // What stands at the name of Ghostscript's temporary folder when a job
    // starts: a link is replaced by a folder of the job's own, leaving what
    // it pointed to alone; a folder another user owns refuses the job.
    void aTemporaryFolderAnotherCanReachIsNeverUsed_data()
    {
        QTest::addColumn<bool>("anotherUsers");
        QTest::newRow("a link to a folder outside") << false;
        QTest::newRow("another user's folder") << true;
    }
    void aTemporaryFolderAnotherCanReachIsNeverUsed()
    {
        QFETCH(bool, anotherUsers);
        if (anotherUsers && ::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        Workplace work;
        work.writeScript(75);
        work.stage(TestDataPath("shapes.eps"));
        const QString temporary =
            QFile::decodeName(GhostscriptPolicy::temporaryFolder(QFile::encodeName(work.folder).toStdString()).c_str());
        const QString outside = work.root.filePath("outside");
        QDir().mkpath(outside);
        WriteBytes(outside + "/kept.txt", "keep me");
        if (anotherUsers) {
            QVERIFY(QDir().mkpath(temporary));
            QVERIFY(::chown(QFile::encodeName(temporary).constData(), 65534, 65534) == 0);
        } else {
            QVERIFY(QFile::link(outside, temporary));
        }
        const Shell32::WaitResult result = RunJob(work.folder);
        if (anotherUsers) {
            QCOMPARE(result.ending, RunEnding::NotStarted);
            QVERIFY2(result.message.contains("belongs to another user"), qPrintable(result.message));
            QVERIFY(!QFileInfo::exists(work.file(StagedOutputName)));
        } else {
            QCOMPARE(result, Shell32::WaitResult{});
            QCOMPARE(ReadBytes(work.file(StagedOutputName)), GhostscriptReference(TestDataPath("shapes.eps"), 75));
        }
        QCOMPARE(QDir(outside).entryList(QDir::Files), QStringList{"kept.txt"});
        QCOMPARE(ReadBytes(outside + "/kept.txt"), QByteArray("keep me"));
    }

    void workingFolderIsTempPs()
    {
        QTemporaryDir root;
        const QByteArray oldTemp = qgetenv("TEMP");
        qputenv("TEMP", QFile::encodeName(root.path()));
        const QString folder = WorkingFolder();
        qputenv("TEMP", oldTemp);
        QCOMPARE(folder, root.path() + "/ps");
    }

    void hostilePostScriptChangesNothing()
    {
        Workplace work;
        work.writeScript(75);
        const QString sentinel = work.root.filePath("sentinel.txt");
        WriteBytes(sentinel, "keep me");
        const QString script = work.file(ScriptName());
        const QByteArray scriptBytes = ReadBytes(script);

        // Every attempt is wrapped in `stopped`, so Ghostscript goes on to the next one.
        QByteArray hostile = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 50 50\n%%EndComments\n";
        const auto attempt = [&](const QByteArray &code) { hostile += "{ " + code + " } stopped pop\n"; };
        const QByteArray s = QFile::encodeName(script), w = QFile::encodeName(work.folder),
                         r = QFile::encodeName(work.root.path());
        attempt("(" + s + ") (w) file dup (echo owned > " + r + "/owned) writestring closefile");
        attempt("(eps2jpg.sh) (w) file dup (echo owned) writestring closefile");
        attempt("(" + w + "/tmp/../eps2jpg.sh) (w) file dup (echo owned) writestring closefile");
        attempt("(" + QFile::encodeName(sentinel) + ") deletefile");
        attempt("(" + QFile::encodeName(sentinel) + ") (" + r + "/moved.txt) renamefile");
        attempt("(" + r + "/new.txt) (w) file dup (x) writestring closefile");
        attempt("(%pipe%touch " + r + "/piped) (w) file closefile");
        attempt("(" + w + "/tmp/left-behind) (w) file dup (x) writestring closefile");
        hostile += "0 0 50 50 rectfill showpage\n%%EOF\n";
        WriteBytes(work.root.filePath("hostile.eps"), hostile);

        const QString before = FolderSnapshot(work.root.path());
        work.stage(work.root.filePath("hostile.eps"));
        RunJob(work.folder);
        QFile::remove(work.file(StagedOutputName));
        QCOMPARE(FolderSnapshot(work.root.path()), before);
        QCOMPARE(ReadBytes(script), scriptBytes);
        QCOMPARE(ReadBytes(sentinel), QByteArray("keep me"));

        // The next job runs the script as written.
        work.stage(TestDataPath("shapes.eps"));
        QCOMPARE(RunJob(work.folder), Shell32::WaitResult{}); // exited with 0, said nothing
        QCOMPARE(ReadBytes(work.file(StagedOutputName)), GhostscriptReference(TestDataPath("shapes.eps"), 75));
        QVERIFY(!QFileInfo::exists(work.root.filePath("owned")));
    }
};

PELLUCOR_REGISTER_TEST(GhostscriptJobTest, ghostscript)
#include "tst_ghostscriptjob.moc"
