#include "engine/shell32.h"

#include "support/testfiles.h"
#include "support/testregistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Shell32;

class Shell32Test : public QObject
{
    Q_OBJECT

private slots:
    void errorTable_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        QTest::newRow("0") << 0 << 7 << "Out of memory";
        QTest::newRow("2") << 2 << 53 << "File not found";
        QTest::newRow("3") << 3 << 76 << "Path not found";
        QTest::newRow("5") << 5 << 75 << "Path/file access error";
        QTest::newRow("8") << 8 << 7 << "Out of memory";
        QTest::newRow("11") << 11 << -2147220445 << "The executable file is invalid or corrupt";
        QTest::newRow("26") << 26 << 75 << "A sharing violation occurred.";
        QTest::newRow("27") << 27 << -2147220429 << "This file type does not have a valid file association.";
        QTest::newRow("28") << 28 << 286
                            << "The file could not be opened due to time out. Please try again in a moment.";
        QTest::newRow("29")
            << 29 << 285
            << "The file could not be opened because the DDE transaction failed. Please try again in a moment.";
        QTest::newRow("30")
            << 30 << 285
            << "The file could not be opened because the target application is busy. Please try again in a moment.";
        QTest::newRow("31") << 31 << -2147220425 << "No application is associated with this file type.";
        QTest::newRow("32") << 32 << 48 << "The specified dynamic-link library was not found.";
        const QString other = "An error occurred occurred whilst trying to open or print the selected file.";
        QTest::newRow("1") << 1 << -2147220455 << other;
        QTest::newRow("4") << 4 << -2147220452 << other;
        QTest::newRow("25") << 25 << -2147220431 << other;
    }
    void errorTable()
    {
        QFETCH(int, result);
        QFETCH(int, number);
        QFETCH(QString, message);
        const ShellError error = ShellErrorFor(result);
        QCOMPARE(error.number, number);
        QCOMPARE(error.message, message);
    }

    void showModes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("expected");
        QTest::newRow("script with a folder keeps its mode") << "\"/w/eps2jpg.sh\"" << 0 << "" << "/w/" << 0;
        QTest::newRow("exe in any case is hidden") << "GS.eXe" << 3 << "" << "/w" << 0;
        QTest::newRow("exe inside the name is hidden") << "a.exe.txt" << 4 << "-q" << "" << 0;
        QTest::newRow("nothing given: normal window") << "tool.exe" << 0 << "" << "" << 1;
        QTest::newRow("nothing given: any file") << "doc.txt" << 6 << "" << "" << 1;
        QTest::newRow("parameters given") << "doc.txt" << 6 << "-p" << "" << 6;
    }
    void showModes()
    {
        QFETCH(QString, file);
        QFETCH(int, mode);
        QFETCH(QString, parameters);
        QFETCH(QString, folder);
        QFETCH(int, expected);
        QCOMPARE(EffectiveShowMode(file, mode, parameters, folder), expected);
    }

    void waitShowMode()
    {
        QCOMPARE(ShowModeForWait(std::nullopt), 6);
        QCOMPARE(ShowModeForWait(-1), 6);
        QCOMPARE(ShowModeForWait(7), 6);
        for (int mode = 0; mode <= 6; ++mode)
            QCOMPARE(ShowModeForWait(mode), mode);
        // The caller's variable receives the mode used, even when the start fails.
        QTemporaryDir folder;
        int mode = 7;
        ShellAndWait(folder.filePath("missing.sh"), &mode, folder.path());
        QCOMPARE(mode, 6);
    }

    void failedStartsAreRecorded_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("number");
        QTest::newRow("unknown command") << "no-such-command" << "." << 2 << 53;
        QTest::newRow("quoted missing script") << "\"missing.sh\"" << "." << 2 << 53;
        QTest::newRow("missing folder") << "job.sh" << "nowhere" << 3 << 76;
        // Its number lies on the application base: it must still read as a start that failed.
        QTest::newRow("a plain document") << "notes.txt" << "." << 31 << -2147220425;
    }
    void failedStartsAreRecorded()
    {
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QFETCH(int, result);
        QFETCH(int, number);
        QTemporaryDir root;
        WriteBytes(root.filePath("notes.txt"), "text");
        const QString where = folder == "." ? root.path() : root.filePath(folder);
        const GShellResult started = GShell(file, 0, QString(), where, "open", 0);
        QCOMPARE(started.result, result);
        QVERIFY(started.error.has_value());
        QCOMPARE(started.error->number(), number);
        QCOMPARE(started.error->description(), ShellErrorFor(result).message);
        QCOMPARE(started.error->source(), QString("tst_engine.GShell"));
        QVERIFY(!started.process);
        // The wait says at once that it did not start, and why.
        const WaitResult waited = ShellAndWait(file, nullptr, where);
        QCOMPARE(waited.ending, RunEnding::NotStarted);
        QCOMPARE(waited.exitCode, number);
        QCOMPARE(waited.message, ShellErrorFor(result).message);
    }

    void waitReturnsTheExitCode()
    {
        QTemporaryDir root;
        WriteBytes(root.filePath("job.sh"), "echo ran > ran.txt\nexit 3\n");
        const WaitResult waited = ShellAndWait('"' + root.filePath("job.sh") + '"', nullptr, root.path() + "/");
        QCOMPARE(waited.ending, RunEnding::Exited);
        QCOMPARE(waited.exitCode, 3);
        QCOMPARE(ReadBytes(root.filePath("ran.txt")), QByteArray("ran\n")); // ran in its folder
    }

    void waitLetsEventsRun()
    {
        // The job ends only when a timer of ours has fired: a wait that
        // blocked the event loop would run into the time limit instead.
        QTemporaryDir root;
        WriteBytes(root.filePath("job.sh"), "while [ ! -e go ]; do sleep 0.02; done\n");
        QTimer::singleShot(100, [&] { WriteBytes(root.filePath("go"), ""); });
        WaitOptions options;
        options.timeLimit = std::chrono::seconds(30);
        QCOMPARE(ShellAndWait(root.filePath("job.sh"), nullptr, root.path(), options).ending, RunEnding::Exited);
    }

    void timeLimitStopsTheJobAndWhatItStarted()
    {
        QTemporaryDir root;
        WriteBytes(root.filePath("job.sh"), "echo $$ > job.pid\nsleep 600 &\necho $! > child.pid\nwait\n");
        WaitOptions options;
        options.timeLimit = std::chrono::milliseconds(500);
        QCOMPARE(ShellAndWait(root.filePath("job.sh"), nullptr, root.path(), options).ending, RunEnding::TimedOut);
        QVERIFY(QFileInfo::exists(root.filePath("child.pid")));
        QTRY_VERIFY(!ProcessAliveByFile(root.filePath("job.pid")));
        QTRY_VERIFY(!ProcessAliveByFile(root.filePath("child.pid")));
    }

    void environmentReachesTheJob()
    {
        QTemporaryDir root;
        WriteBytes(root.filePath("job.sh"), "echo \"$PELLUCOR_PROBE\" > probe.txt\n");
        WaitOptions options;
        options.environment.insert("PELLUCOR_PROBE", "seen");
        QCOMPARE(ShellAndWait(root.filePath("job.sh"), nullptr, root.path(), options).ending, RunEnding::Exited);
        QCOMPARE(ReadBytes(root.filePath("probe.txt")), QByteArray("seen\n"));
    }
};

PELLUCOR_REGISTER_TEST(Shell32Test, unit)
#include "tst_shell32.moc"
