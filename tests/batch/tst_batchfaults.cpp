#include "support/batchrun.h"
#include "support/hostilecorpus.h"
#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/tinyfilesystem.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstring>

namespace {

struct Run
{
    int exitCode = -1;
    QString errors;
};

Run Batch(const QTemporaryDir &home, const QStringList &arguments, const QString &temp = {})
{
    QProcess batch;
    batch.setProcessEnvironment(ConverterEnvironment(home.path(), temp));
    batch.start(PELLUCOR_APP_DIR "/pellucor-batch", QStringList{"--quality", "75"} + arguments);
    Run run;
    if (batch.waitForFinished(600000))
        run.exitCode = batch.exitCode();
    run.errors = QString::fromLocal8Bit(batch.readAllStandardError());
    return run;
}

QString Input(const QTemporaryDir &home, const QString &relative, const char *data)
{
    const QString path = home.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    WriteBytes(path, ReadBytes(TestDataPath(data)));
    return path;
}

} // namespace

class BatchFaultTest : public QObject
{
    Q_OBJECT

private slots:
    void anInputThatMayNotBeRead()
    {
        PELLUCOR_AS_ORDINARY_USER();
        QTemporaryDir home;
        const QString locked = Input(home, "in/locked/a.eps", "shapes.eps");
        const QString free = Input(home, "in/b.eps", "text.eps");
        QFile::setPermissions(home.filePath("in/locked"), QFileDevice::WriteOwner);
        const Run run = Batch(home, {"--beside", locked, free});
        QFile::setPermissions(home.filePath("in/locked"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains("  " + locked + ": Permission denied: " + locked + "\n"), qPrintable(run.errors));
        QCOMPARE(ReadBytes(locked), ReadBytes(TestDataPath("shapes.eps")));
        QVERIFY(QFileInfo::exists(home.filePath("in/b.jpg")));
    }

    void anOutputFolderThatMayNotBeWritten()
    {
        PELLUCOR_AS_ORDINARY_USER();
        QTemporaryDir home;
        const QString input = Input(home, "in/a.eps", "shapes.eps");
        QDir().mkpath(home.filePath("out"));
        WriteBytes(home.filePath("out/a.jpg"), "old image");
        QFile::setPermissions(home.filePath("out"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const Run run = Batch(home, {"--output", home.filePath("out"), input});
        QFile::setPermissions(home.filePath("out"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains(input + ": the image could not be saved: Permission denied: "
                                     + home.filePath("out/a.jpg")),
                 qPrintable(run.errors));
        QCOMPARE(ReadBytes(home.filePath("out/a.jpg")), QByteArray("old image"));
        QCOMPARE(QDir(home.filePath("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"a.jpg"});
    }

    void anOutputPathThatIsAFolder()
    {
        QTemporaryDir home;
        const QString input = Input(home, "in/a.eps", "shapes.eps");
        QDir().mkpath(home.filePath("out/a.jpg"));
        const Run run = Batch(home, {"--output", home.filePath("out"), input});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains(input + ": the image could not be saved: Path/File access error: "
                                     + home.filePath("out/a.jpg") + " is a folder"),
                 qPrintable(run.errors));
        QVERIFY(QFileInfo(home.filePath("out/a.jpg")).isDir());
    }

    void aTempThatIsAFile()
    {
        QTemporaryDir home;
        const QString input = Input(home, "in/a.eps", "shapes.eps");
        WriteBytes(home.filePath("file"), "x");
        const Run run = Batch(home, {"--beside", input}, home.filePath("file"));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.errors, "pellucor-batch: The temporary folder \"" + home.filePath("file")
                                 + "\" (environment variable TEMP) is not a folder and cannot be made one.\n");
        QVERIFY(!QFileInfo::exists(home.filePath("in/a.jpg")));
    }

    void aFullOutputDisk()
    {
        TinyFileSystem disk(64);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.why()));
        QTemporaryDir home;
        const QString input = Input(home, "in/shapes.eps", "shapes.eps");
        WriteBytes(disk.path() + "/shapes.jpg", "old image");
        disk.fill();
        const Run run = Batch(home, {"--output", disk.path(), input});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains(input + ": the image could not be saved: Disk full: " + disk.path()
                                     + "/shapes.jpg"),
                 qPrintable(run.errors));
        QCOMPARE(ReadBytes(disk.path() + "/shapes.jpg"), QByteArray("old image"));
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"filler", "shapes.jpg"}));
    }

    void ghostscriptKilledWhileRendering_data()
    {
        QTest::addColumn<bool>("killRenderer");
        QTest::newRow("the child rendering the file") << false;
        QTest::newRow("the warm renderer it was forked from") << true;
    }
    void ghostscriptKilledWhileRendering()
    {
        QFETCH(bool, killRenderer);
        QTemporaryDir home;
        QDir().mkpath(home.filePath("in"));
        WriteBytes(home.filePath("in/slow.eps"), SlowEps());
        const QString next = Input(home, "in/next.eps", "text.eps");
        QDir().mkpath(home.filePath("temp"));
        BatchSettings settings;
        settings.renderer = PELLUCOR_APP_DIR "/pellucor-renderer";
        settings.jobs = 1;
        settings.workRoot = home.filePath("temp");
        bool killed = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            // Kill it once its page is being written.
            const QStringList workers = QDir(home.filePath("temp")).entryList({"pellucor-batch-*"}, QDir::Dirs);
            if (killed || workers.isEmpty())
                return;
            qint64 victim = 0;
            if (QFileInfo(PageBeingWritten(home.filePath("temp/" + workers.first() + "/"), &victim)).size() == 0)
                return;
            if (victim && killRenderer) {
                const QByteArray status = ReadBytes(QString("/proc/%1/status").arg(victim));
                const qsizetype at = status.indexOf("PPid:");
                victim = status.mid(at + 5, status.indexOf('\n', at) - at - 5).trimmed().toLongLong();
            }
            if (victim > 1) {
                ::kill(pid_t(victim), SIGKILL);
                killed = true;
            }
        });
        watch.start(1);
        const QStringList reports = ReportLines(RunBatch({{home.filePath("in/slow.eps"), home.filePath("slow.jpg")},
                                                          {next, home.filePath("next.jpg")}},
                                                         settings));
        watch.stop();
        QVERIFY(killed);
        QCOMPARE(reports.value(0), QString("0 0 Ghostscript ended abnormally"));
        QCOMPARE(reports.value(1), QString("1 1 "));
        QVERIFY(!QFileInfo::exists(home.filePath("slow.jpg")));
        QCOMPARE(ReadBytes(home.filePath("next.jpg")), GhostscriptReference(next, 75));
    }

    void aFileOverALimit_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QByteArray>("namespaces");
        QTest::newRow("memory") << QByteArray("/d 2000 dict def 0 1 1499 { d exch 1000000 string put } for")
                                << "used more than 256 MB of memory" << QByteArray();
        QTest::newRow("output") << QByteArray("20000 { showpage } repeat") << "output larger than 1 MB" << QByteArray();
        // Safe mode lets a document write files its output's name pattern
        // matches: pages of its own, each just within the limit on a file's
        // size, that take next to no room until they are copied.
        const QByteArray sparsePages = "0 0 60 20 rectfill showpage 2 1 4 { 100 add 3 string cvs 1 2 getinterval"
                                       " (p0000XX.jpg) dup length string copy dup 5 4 -1 roll putinterval (w) file"
                                       " dup <FFD8> writestring dup 1000000 setfileposition dup <FFD9> writestring"
                                       " closefile } for";
        QTest::newRow("sparse pages of its own, in namespaces")
            << sparsePages << "output larger than 1 MB" << QByteArray();
        QTest::newRow("sparse pages of its own, without")
            << sparsePages << "output larger than 1 MB" << QByteArray("off");
        // Files it removed but holds open take room that no listing shows.
        QTest::newRow("files it removed, without")
            << QByteArray("/s 65536 string def /held [ 0 1 19 { pop (u) (w) .tempfile exch deletefile"
                          " dup 0 1 12 { pop dup s writestring } for } for ] def { } loop")
            << "output larger than 1 MB" << QByteArray("off");
    }
    void aFileOverALimit()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, reason);
        QFETCH(QByteArray, namespaces);
        const EnvironmentScope environment{{"PELLUCOR_NAMESPACES", namespaces}};
        QTemporaryDir home;
        WriteBytes(home.filePath("bomb.eps"), "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 60 20\n" + body + "\n");
        const QString next = Input(home, "next.eps", "text.eps");
        const Run run = Batch(home, {"--jobs", "1", "--timeout", "60", "--memory-limit", "256", "--max-output", "1",
                                     "--beside", home.filePath("bomb.eps"), next});
        QCOMPARE(run.exitCode, 1);
        // Stopped by the bound, not by the time limit.
        QVERIFY2(run.errors.contains(home.filePath("bomb.eps") + ": " + reason + "\n"), qPrintable(run.errors));
        QVERIFY(!QFileInfo::exists(home.filePath("bomb.jpg")));
        QCOMPARE(ReadBytes(home.filePath("next.jpg")), GhostscriptReference(next, 75));
    }

    void stoppedFromOutside_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void stoppedFromOutside()
    {
        QFETCH(int, signal);
        QTemporaryDir home;
        QDir().mkpath(home.filePath("in"));
        QDir().mkpath(home.filePath("out"));
        const QString quick = Input(home, "in/a-quick.eps", "text.eps");
        for (const char *name : {"in/b-slow.eps", "in/c-slow.eps", "in/d-slow.eps"})
            WriteBytes(home.filePath(name), SlowEps());
        QProcess batch;
        batch.setProcessEnvironment(ConverterEnvironment(home.path()));
        batch.start(PELLUCOR_APP_DIR "/pellucor-batch",
                    {"--quality", "75", "--jobs", "2", "--output", home.filePath("out"), home.filePath("in")});
        // Stop it while slow pages are being written.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(home.filePath("out/a-quick.jpg"))
                                     && !PageBeingWritten(home.filePath("temp")).isEmpty(),
                                 60000);
        ::kill(pid_t(batch.processId()), signal);
        QVERIFY(batch.waitForFinished(30000));
        QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(batch.exitCode(), 128 + signal);
        const QString errors = QString::fromLocal8Bit(batch.readAllStandardError());
        QVERIFY2(errors.contains(QString("stopped (%1) with 3 of 4 files not converted").arg(::strsignal(signal))),
                 qPrintable(errors));
        QCOMPARE(FindGhostscriptIn(home.filePath("temp"), "pellucor-render"), 0);
        QCOMPARE(QDir(home.filePath("temp")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        QCOMPARE(QDir(home.filePath("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"a-quick.jpg"});
        QCOMPARE(ReadBytes(home.filePath("out/a-quick.jpg")), GhostscriptReference(quick, 75));
    }

    // Every run in a container has the same small process id, and ids wrap
    // elsewhere. What a killed run left in TEMP never passes for a later
    // file's pages, and the first process of a container converts like any.
    void aKilledRunsFoldersInAContainerOfItsOwn_data()
    {
        QTest::addColumn<QByteArray>("namespaces");
        QTest::newRow("in namespaces") << QByteArray();
        QTest::newRow("without") << QByteArray("off");
    }
    void aKilledRunsFoldersInAContainerOfItsOwn()
    {
        QFETCH(QByteArray, namespaces);
        const EnvironmentScope environment{{"PELLUCOR_NAMESPACES", namespaces}};
        QTemporaryDir home;
        QDir().mkpath(home.filePath("in"));
        QStringList inputs;
        for (const QString &sample : QDir(PELLUCOR_APP_DIR "/Samples").entryList({"*.eps"}))
            inputs << home.filePath("in/" + sample);
        for (const QString &input : inputs)
            WriteBytes(input, ReadBytes(PELLUCOR_APP_DIR "/Samples/" + QFileInfo(input).fileName()));
        WriteBytes(home.filePath("in/rejected.eps"),
                   "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nnosuchoperator\n");
        // A killed run's pages, where a run of process 1 or 2 put them.
        const QByteArray left = GhostscriptReference(TestDataPath("shapes.eps"), 75);
        for (int pid = 1; pid <= 2; ++pid) {
            for (int job = 0; job < 4; ++job) {
                QDir().mkpath(home.filePath(QString("temp/pellucor-batch-%1-%2/1").arg(pid).arg(job)));
                WriteBytes(home.filePath(QString("temp/pellucor-batch-%1-%2/1/p000001.jpg").arg(pid).arg(job)), left);
            }
        }
        const QString before = FolderSnapshot(home.filePath("temp"), {});
        QProcess batch;
        batch.setProcessEnvironment(ConverterEnvironment(home.path()));
        batch.start("unshare", {"--user", "--map-root-user", "--pid", "--fork", "--mount-proc", "--",
                                PELLUCOR_APP_DIR "/pellucor-batch", "--quality", "75", "--jobs", "2", "--beside",
                                home.filePath("in")});
        QVERIFY(batch.waitForFinished(300000));
        const QString errors = QString::fromLocal8Bit(batch.readAllStandardError());
        if (errors.startsWith("unshare: "))
            QSKIP(qPrintable("no container of the test's own: " + errors));
        QCOMPARE(batch.exitCode(), 1);
        QVERIFY2(errors.contains("\n1 failed:\n  " + home.filePath("in/rejected.eps")
                                 + ": Error: /undefined in nosuchoperator"),
                 qPrintable(errors));
        QVERIFY(!QFileInfo::exists(home.filePath("in/rejected.jpg")));
        for (const QString &input : inputs)
            QVERIFY2(ReadBytes(input.chopped(3) + "jpg") == GhostscriptReference(input, 75), qPrintable(input));
        QCOMPARE(FolderSnapshot(home.filePath("temp"), {}), before);
    }

    void twoConvertersAtOnce()
    {
        QTemporaryDir home;
        QStringList inputs;
        for (int i = 0; i < 40; ++i)
            inputs << Input(home, QString("in/f%1.eps").arg(i, 2, 10, QChar('0')),
                            i % 3 == 0   ? "shapes.eps"
                            : i % 3 == 1 ? "lines.eps"
                                         : "text.eps");
        QDir().mkpath(home.filePath("out1"));
        QDir().mkpath(home.filePath("out2"));
        QProcess first, second;
        first.setProcessEnvironment(ConverterEnvironment(home.path()));
        second.setProcessEnvironment(ConverterEnvironment(home.path()));
        first.start(PELLUCOR_APP_DIR "/pellucor-batch",
                    {"--quiet", "--quality", "30", "--output", home.filePath("out1"), home.filePath("in")});
        second.start(PELLUCOR_APP_DIR "/pellucor-batch",
                     {"--quiet", "--quality", "90", "--output", home.filePath("out2"), home.filePath("in")});
        QVERIFY(first.waitForFinished(600000));
        QVERIFY(second.waitForFinished(600000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);
        for (const QString &input : inputs) {
            const QString name = QFileInfo(input).completeBaseName() + ".jpg";
            QCOMPARE(ReadBytes(home.filePath("out1/" + name)), GhostscriptReference(input, 30));
            QCOMPARE(ReadBytes(home.filePath("out2/" + name)), GhostscriptReference(input, 90));
        }
    }
};

PELLUCOR_REGISTER_TEST(BatchFaultTest, ghostscript)
#include "tst_batchfaults.moc"
