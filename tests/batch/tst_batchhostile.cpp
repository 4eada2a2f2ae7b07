#include "support/hostilecorpus.h"
#include "support/testfiles.h"
#include "support/testregistry.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class BatchHostileInputTest : public QObject
{
    Q_OBJECT

private slots:
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
        const QString before = FolderSnapshot(root.path(), {root.filePath("out")});

        QProcess batch;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TEMP", root.filePath("temp"));
        environment.insert("XDG_CONFIG_HOME", root.filePath("config"));
        batch.setProcessEnvironment(environment);
        batch.setWorkingDirectory(root.filePath("in"));
        batch.start(PELLUCOR_APP_DIR "/pellucor-batch",
                    {"--output", root.filePath("out"), "--timeout", "3", "--jobs", "2", "--quality", "75",
                     root.filePath("in")});
        QVERIFY(batch.waitForFinished(600000));
        const QString errors = QString::fromLocal8Bit(batch.readAllStandardError());
        QCOMPARE(batch.exitCode(), 1);

        QCOMPARE(FolderSnapshot(root.path(), {root.filePath("out")}), before); // inputs and all else as they were
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

PELLUCOR_REGISTER_TEST(BatchHostileInputTest)
#include "tst_batchhostile.moc"
