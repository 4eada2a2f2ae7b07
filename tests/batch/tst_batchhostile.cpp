#include "support/batchrun.h"
#include "support/hostilecorpus.h"
#include "support/testfiles.h"
#include "support/testregistry.h"

#include "sandbox/sandbox.h"
#include "engine/batchengine.h"

#include <QDir>
#include <QProcess>

#include <fcntl.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QByteArray Eps(const QByteArray &body)
{
    return "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 100 100\n%%EndComments\n"
           "/Helvetica findfont 8 scalefont setfont\n"
           + body + "\nshowpage\n%%EOF\n";
}

// Files that leave something behind for the files after them, in the order
// they are converted: each must still give what a separate run of it gives.
const QList<QPair<QString, QByteArray>> LeakingFiles{
    // Honest files caching a procedure set under one name, each its own colour.
    {"procs-red.eps", Eps("true setglobal globaldict /LogoProcs known not { globaldict /LogoProcs"
                          " << /draw { 1 0 0 setrgbcolor 10 10 80 80 rectfill } bind >> put } if false setglobal"
                          " globaldict /LogoProcs get /draw get exec")},
    {"procs-blue.eps", Eps("true setglobal globaldict /LogoProcs known not { globaldict /LogoProcs"
                           " << /draw { 0 0 1 setrgbcolor 10 10 80 80 rectfill } bind >> put } if false setglobal"
                           " globaldict /LogoProcs get /draw get exec")},
    {"showpage-override.eps", Eps("true setglobal globaldict /showpage { 1 0 0 setrgbcolor 0 0 20 20 rectfill"
                                  " systemdict /showpage get exec } bind put false setglobal")},
    {"font-replacement.eps", Eps("true setglobal /Times-Roman /Courier findfont definefont pop false setglobal")},
    {"run-override.eps", Eps("true setglobal globaldict /run { true setglobal dup (r) file 8192 string readstring"
                             " pop globaldict /stash 3 -1 roll put false setglobal systemdict /run get exec }"
                             " bind put false setglobal")},
    {"secret.eps",
     Eps("% the launch code is 0000\n/Times-Roman findfont 10 scalefont setfont 5 50 moveto (Times) show")},
    {"prints-stash.eps", Eps("5 50 moveto globaldict /stash known { globaldict /stash get 0 60 getinterval }"
                             " { (no stash) } ifelse show")},
    {"ram-writer.eps", Eps("{ (%ram%/stash) (w) file dup (left in memory) writestring closefile } stopped pop")},
    {"ram-reader.eps", Eps("5 50 moveto { (%ram%/stash) (r) file 100 string readstring pop } stopped"
                           " { (nothing) } if show")},
    {"forges-answers.eps", Eps("(\\nexited 0\\nready\\nsignal 9\\n) print flush"
                               " (%stderr) (w) file dup (\\nexited 0\\n) writestring flushfile")},
    {"broken.eps", Eps("thisnameisnotdefined")},
    {"stdin-reader.eps", Eps("5 50 moveto { (%stdin) (r) file 100 string readstring pop } stopped"
                             " { (nothing) } if show")},
    {"last.eps", Eps("5 50 moveto /Times-Roman findfont 10 scalefont setfont (Times) show")},
};

} // namespace

class BatchHostileInputTest : public QObject
{
    Q_OBJECT

private slots:
    void renderChildrenAreConfined()
    {
        if (!KernelConfinesFiles())
            QSKIP("this kernel cannot confine Ghostscript fully");
        QTemporaryDir root;
        WriteBytes(root.filePath("slow.eps"), SlowEps());
        // Left open to whatever this process starts, as a careless starter leaves one.
        const int inherited = ::open(QFile::encodeName(root.filePath("inherited.txt")).constData(), O_WRONLY | O_CREAT,
                                     0600);
        BatchSettings settings;
        settings.renderer = PELLUCOR_APP_DIR "/pellucor-renderer";
        settings.workRoot = root.path();
        settings.limits.memoryMegabytes = 700;
        settings.limits.outputMegabytes = 300;
        BatchEngine engine({{root.filePath("slow.eps"), root.filePath("slow.jpg")}}, settings);
        QByteArray status, limits;
        QStringList descriptors, sharedNamespaces;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            const QStringList workers = QDir(root.path()).entryList({"pellucor-batch-*"}, QDir::Dirs);
            const qint64 child = workers.isEmpty()
                                     ? 0
                                     : FindGhostscriptIn(root.filePath(workers.first() + "/"), "pellucor-render");
            if (child == 0)
                return;
            status = ReadBytes(QString("/proc/%1/status").arg(child));
            limits = ReadBytes(QString("/proc/%1/limits").arg(child));
            // What it holds open beyond the standard three is Ghostscript's own
            // (its input, its temporary files), nothing it was given.
            descriptors.clear();
            for (const QString &fd : QDir(QString("/proc/%1/fd").arg(child))
                                         .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
                char target[4096];
                const ssize_t size =
                    ::readlink(QFile::encodeName(QString("/proc/%1/fd/%2").arg(child).arg(fd)).constData(), target,
                               sizeof target);
                const QByteArray opened(target, size > 0 ? size : 0);
                if (fd.toInt() > 2
                    && (opened.startsWith("pipe:") || opened.startsWith("socket:") || opened.endsWith("inherited.txt")))
                    descriptors << fd + " " + QString::fromLocal8Bit(opened);
            }
            sharedNamespaces.clear();
            for (const char *kind : {"user", "pid", "mnt", "ipc", "net"}) {
                if (QFileInfo(QString("/proc/%1/ns/%2").arg(child).arg(kind)).symLinkTarget()
                    == QFileInfo(QString("/proc/self/ns/%1").arg(kind)).symLinkTarget())
                    sharedNamespaces << kind;
            }
            if (status.contains("Seccomp:\t2"))
                engine.stop();
        });
        watch.start(1);
        engine.run();
        QVERIFY2(status.contains("NoNewPrivs:\t1\n"), status.constData());
        QVERIFY2(status.contains("Seccomp:\t2\n"), status.constData());
        QVERIFY2(limits.simplified().contains("Max address space 734003200 734003200 bytes"), limits.constData());
        QVERIFY2(limits.simplified().contains("Max file size 314572800 314572800 bytes"), limits.constData());
        ::close(inherited);
        QVERIFY2(status.contains("CapEff:\t0000000000000000\n"), status.constData());
        QCOMPARE(descriptors, QStringList());
        if (Sandbox::namespacesAvailable())
            QCOMPARE(sharedNamespaces, QStringList());
    }

#ifdef PELLUCOR_COMPROMISED_GS
    // A Ghostscript placed beside the program runs separately for each file;
    // taken over, whatever it starts dies with its file.
    void aCompromisedGhostscriptLeavesNothingBehind_data()
    {
        QTest::addColumn<QByteArray>("namespaces");
        QTest::newRow("in namespaces") << QByteArray();
        QTest::newRow("without namespaces") << QByteArray("off");
    }
    void aCompromisedGhostscriptLeavesNothingBehind()
    {
        QFETCH(QByteArray, namespaces);
        if (!KernelConfinesFiles())
            QSKIP("this kernel cannot confine Ghostscript fully");
        QTemporaryDir root;
        const EnvironmentScope environment{{"PELLUCOR_NAMESPACES", namespaces}};
        const Bystanders bystanders;
        QList<BatchItem> items;
        for (const char *name : {"shapes.eps", "text.eps", "lines.eps"}) {
            WriteBytes(root.filePath(name), ReadBytes(TestDataPath(name)));
            items.append({root.filePath(name), root.filePath(QFileInfo(name).completeBaseName() + ".jpg")});
        }
        QDir().mkpath(root.filePath("temp"));
        BatchSettings settings;
        settings.program = PELLUCOR_COMPROMISED_GS;
        settings.jobs = 2;
        settings.workRoot = root.filePath("temp");
        const QList<BatchReport> reports = RunBatch(items, settings);
        QCOMPARE(reports.size(), items.size());
        for (const BatchReport &report : reports)
            QVERIFY2(report.converted, qPrintable(report.message));
        for (const BatchItem &item : items)
            QVERIFY2(ReadBytes(item.output) == GhostscriptReference(item.input, 75), qPrintable(item.input));
        QTRY_COMPARE(ProcessesIn(root.path(), "compromised-gs"), QList<qint64>());
        QCOMPARE(bystanders.reached(), QStringList());
        QVERIFY(QDir(root.filePath("temp")).isEmpty());
    }

    // Its page a link to the image of the file before it: no image at all,
    // where the kernel refuses to make the link and where nothing does.
    void aPageThatIsALinkIsNoImage_data()
    {
        QTest::addColumn<QByteArray>("landlock");
        QTest::newRow("as this kernel confines it") << QByteArray();
        QTest::newRow("a kernel without Landlock") << QByteArray("0");
    }
    void aPageThatIsALinkIsNoImage()
    {
        QFETCH(QByteArray, landlock);
        QTemporaryDir root;
        const EnvironmentScope environment{{"PELLUCOR_TEST_PAGE_LINK",
                                            "second.eps=" + root.filePath("first.jpg").toUtf8()},
                                           {"PELLUCOR_LANDLOCK_ABI", landlock}};
        QList<BatchItem> items;
        for (const char *name : {"first", "second"}) {
            WriteBytes(root.filePath(name + QString(".eps")), ReadBytes(TestDataPath("shapes.eps")));
            items.append({root.filePath(name + QString(".eps")), root.filePath(name + QString(".jpg"))});
        }
        BatchSettings settings;
        settings.program = PELLUCOR_COMPROMISED_GS;
        settings.workRoot = root.path();
        const QList<BatchReport> reports = RunBatch(items, settings);
        QCOMPARE(reports.size(), 2);
        QVERIFY(reports.at(0).converted);
        QVERIFY2(!reports.at(1).converted, qPrintable(reports.at(1).message));
        QVERIFY(!QFileInfo::exists(root.filePath("second.jpg")));
    }
#endif

    // A document that fills its temporary folder, beside documents rendered
    // at the same time, on a temporary disk that is nearly full already: an
    // image is converted whole or not at all, and the others are not touched
    // where each file has a file system of its own.
    void aFullTemporaryDiskNeverPassesForAnImage_data()
    {
        QTest::addColumn<QByteArray>("namespaces");
        QTest::newRow("in namespaces") << QByteArray();
        QTest::newRow("without namespaces") << QByteArray("off");
    }
    void aFullTemporaryDiskNeverPassesForAnImage()
    {
        QFETCH(QByteArray, namespaces);
        QTemporaryDir root;
        for (const char *folder : {"in", "out", "temp"})
            QDir().mkpath(root.filePath(folder));
        const QStringList honest{"shapes.eps", "text.eps", "lines.eps", "square.eps", "pagesize.eps", "twopages.eps"};
        for (const QString &name : honest)
            WriteBytes(root.filePath("in/" + name), ReadBytes(TestDataPath(name)));
        WriteBytes(root.filePath("in/filler.eps"),
                   "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n"
                   "0 1 100000 { pop (f) (w) .tempfile exch pop dup 100000 string writestring closefile } for\n"
                   "0 0 10 10 rectfill showpage\n");
        // A small file system of its own as the temporary folder, in a user
        // namespace of the test's, with little room left.
        QProcessEnvironment environment = ConverterEnvironment(root.path(), root.filePath("temp"));
        if (!namespaces.isEmpty())
            environment.insert("PELLUCOR_NAMESPACES", QString::fromLatin1(namespaces));
        QProcess batch;
        batch.setProcessEnvironment(environment);
        batch.start("unshare",
                    {"-Urm", "--", "/bin/sh", "-c",
                     "mount -t tmpfs -o size=1m tmpfs \"$1\" && head -c 900k /dev/zero > \"$1/ballast\" "
                     "&& shift && exec \"$@\"",
                     "sh", root.filePath("temp"), PELLUCOR_APP_DIR "/pellucor-batch", "--jobs", "2", "--max-output",
                     "1", "--quality", "75", "--output", root.filePath("out"), root.filePath("in")});
        QVERIFY(batch.waitForFinished(300000));
        const QString errors = QString::fromLocal8Bit(batch.readAllStandardError());
        if (errors.startsWith("unshare: ") || errors.startsWith("mount: "))
            QSKIP(qPrintable("no file system of the test's own: " + errors));
        QCOMPARE(batch.exitCode(), 1);
        QVERIFY2(errors.contains("\n  " + root.filePath("in/filler.eps") + ": "), qPrintable(errors));
        for (const QString &name : honest) {
            const QString input = root.filePath("in/" + name);
            const QString output = root.filePath("out/" + QFileInfo(name).completeBaseName() + ".jpg");
            const QByteArray reference = GhostscriptReference(input, 75);
            const bool failed = errors.contains("\n  " + input + ": ");
            if (namespaces.isEmpty() || !failed)
                QVERIFY2(ReadBytes(output) == reference, qPrintable(name + ":\n" + errors));
            else
                QVERIFY2(!QFileInfo::exists(output), qPrintable(name));
        }
        for (const QString &left :
             QDir(root.filePath("out")).entryList(QDir::Files | QDir::Hidden)) // nothing half-written
            QVERIFY2(honest.contains(QFileInfo(left).completeBaseName() + ".eps"), qPrintable(left));
    }

    void filesCannotReachEachOther_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::newRow("one job") << 1;
        QTest::newRow("two jobs") << 2;
    }
    void filesCannotReachEachOther()
    {
        QFETCH(int, jobs);
        QTemporaryDir root;
        QList<BatchItem> items;
        for (const auto &[name, content] : LeakingFiles) {
            WriteBytes(root.filePath(name), content);
            items.append({root.filePath(name), root.filePath(QFileInfo(name).completeBaseName() + ".jpg")});
        }
        BatchSettings settings;
        settings.renderer = PELLUCOR_APP_DIR "/pellucor-renderer";
        settings.jobs = jobs;
        settings.workRoot = root.path();
        const QList<BatchReport> reports = RunBatch(items, settings);
        QCOMPARE(reports.size(), items.size());
        for (int i = 0; i < items.size(); ++i) {
            const QByteArray reference = GhostscriptReference(items.at(i).input, 75);
            QVERIFY2(ReadBytes(items.at(i).output) == reference, qPrintable(items.at(i).input));
            QVERIFY2(reports.value(i).converted == !reference.isEmpty(), qPrintable(items.at(i).input));
        }
        int broken = 0;
        while (!items.at(broken).input.endsWith("/broken.eps"))
            ++broken;
        QCOMPARE(reports.value(broken).message, QString("Error: /undefined in thisnameisnotdefined"));
    }

    void hostileCorpusHarmsNothing()
    {
        QTemporaryDir root;
        const QString outside = root.filePath("outside");
        PrepareOutside(outside);
        QDir().mkpath(root.filePath("in"));
        QDir().mkpath(root.filePath("out"));
        QDir().mkpath(root.filePath("temp"));
        WriteBytes(root.filePath("in/aaa-first.eps"), ReadBytes(TestDataPath("shapes.eps")));
        WriteBytes(root.filePath("in/zzz-last.eps"), ReadBytes(TestDataPath("text.eps")));
        const QList<HostileFile> corpus = HostileCorpus(outside, root.filePath("temp/eps2jpg.sh"));
        for (const HostileFile &file : corpus)
            WriteHostileFile(root.filePath("in"), file);
        // The slash keeps "outside" in the snapshot.
        const QString before = FolderSnapshot(root.path(), {root.filePath("out") + u'/'});

        QProcess batch;
        batch.setProcessEnvironment(ConverterEnvironment(root.path()));
        batch.setWorkingDirectory(root.filePath("in"));
        batch.start(PELLUCOR_APP_DIR "/pellucor-batch", {"--output", root.filePath("out"), "--timeout", "3", "--jobs",
                                                         "2", "--quality", "75", root.filePath("in")});
        QVERIFY(batch.waitForFinished(600000));
        const QString errors = QString::fromLocal8Bit(batch.readAllStandardError());
        QCOMPARE(batch.exitCode(), 1);

        QCOMPARE(FolderSnapshot(root.path(), {root.filePath("out") + u'/'}),
                 before); // inputs and all else as they were
        QCOMPARE(ReadBytes(outside + "/sentinel.txt"), QByteArray("keep me"));
        for (const char *name : {"aaa-first", "zzz-last"})
            QCOMPARE(ReadBytes(root.filePath(QString("out/%1.jpg").arg(name))),
                     GhostscriptReference(root.filePath(QString("in/%1.eps").arg(name)), 75));
        int failing = 0;
        for (const HostileFile &file : corpus) {
            if (file.folder)
                continue; // a folder is searched, not converted
            const QString input = root.filePath("in/" + file.name);
            const QString output = root.filePath("out/" + QFileInfo(input).completeBaseName() + ".jpg");
            if (file.converts) {
                QVERIFY2(ReadBytes(output) == GhostscriptReference(input, 75), qPrintable(file.name));
            } else {
                ++failing;
                QVERIFY2(!QFileInfo::exists(output), qPrintable(file.name));
                const qsizetype line = errors.indexOf("\n  " + input + ": ");
                QVERIFY2(line >= 0, qPrintable(file.name + " is not named in:\n" + errors.right(3000)));
                QVERIFY(errors.mid(line + 5 + input.size(), 3) != "\n"); // with a reason
            }
        }
        QVERIFY(errors.contains(QString("\n%1 failed:\n").arg(failing)));
        QVERIFY(errors.contains("stopped after running 3 seconds"));
        QVERIFY(errors.contains("Error: /invalidfileaccess in --file--"));
    }
};

PELLUCOR_REGISTER_TEST(BatchHostileInputTest, ghostscript)
#include "tst_batchhostile.moc"
