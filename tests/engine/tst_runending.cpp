#include "engine/runending.h"

#include "support/testregistry.h"

#include <QTest>

#include <csignal>

// The window's job, the renderer's children and separate runs all end in
// these words; what the renderer says is read into them here only.
class RunEndingTest : public QObject
{
    Q_OBJECT

private slots:
    void reasonForWhatTheRendererSaid_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("reason");
        QTest::newRow("exited silent") << "exited" << 1 << "" << "Ghostscript produced no image";
        QTest::newRow("exited with an error") << "exited" << 1 << "Error: /undefined" << "Error: /undefined";
        QTest::newRow("processor time limit") << "signal" << SIGXCPU << "" << "stopped after running 3 seconds";
        QTest::newRow("file size limit") << "signal" << SIGXFSZ << "" << "output larger than 1 MB";
        QTest::newRow("crashed, with its last words")
            << "signal" << SIGSEGV << "Error: /x" << "Ghostscript ended abnormally: Error: /x";
        QTest::newRow("wall clock") << "timeout" << 0 << "" << "stopped after running 3 seconds";
        QTest::newRow("outgrown") << "output" << 0 << "" << "output larger than 1 MB";
        QTest::newRow("sandbox refused")
            << "unconfined" << 0 << "bwrap: no"
            << "not converted: the sandbox around Ghostscript could not be applied: bwrap: no";
        QTest::newRow("not started, nothing known") << "unstarted" << 0 << "" << "Ghostscript could not be started";
        QTest::newRow("not started, errno") << "unstarted" << EAGAIN << ""
                                            << "Ghostscript could not be started: " + QString(strerror(EAGAIN));
        QTest::newRow("a word it never sends") << "exited!" << 0 << "" << "Ghostscript could not be started";
        QTest::newRow("no space") << "nospace" << ENOSPC << "" << "the disk of the temporary folder is full (/t)";
        QTest::newRow("not regular") << "irregular" << 0 << "" << "not a regular file";
    }
    void reasonForWhatTheRendererSaid()
    {
        QFETCH(QString, word);
        QFETCH(int, number);
        QFETCH(QString, words);
        QFETCH(QString, reason);
        RunEndings::Details details;
        details.number = number;
        details.words = words;
        details.limits.time = std::chrono::seconds(3);
        details.limits.outputMegabytes = 1;
        details.temporaryFolder = QStringLiteral("/t");
        QCOMPARE(RunEndings::Reason(RunEndings::FromProtocol(word), details), reason);
    }
};

PELLUCOR_REGISTER_TEST(RunEndingTest, unit)
#include "tst_runending.moc"
