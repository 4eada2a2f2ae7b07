#include "support/hostilecorpus.h"
#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "common/filesystem.h"
#include "common/sandbox.h"
#include "engine/ghostscriptjob.h"
#include "filelist/listview.h"

#include <QDir>
#include <QDirIterator>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

namespace {

// Snapshot of everything a run may not touch: all but the output folder, the
// working folder with its lock, and the window's own settings.
QString Untouchable(const WindowFixture &window)
{
    return FolderSnapshot(window.root(), {window.path("out"), window.workingFolder(), window.path("config")});
}

} // namespace

class HostileInputTest : public QObject
{
    Q_OBJECT

private slots:
    void eachHostileFileHarmsNothing_data()
    {
        QTest::addColumn<HostileFile>("file");
        for (const HostileFile &file : HostileCorpus("/outside", "/script"))
            QTest::newRow(qPrintable(QString(file.name).replace('\n', "\\n"))) << file;
    }
    void eachHostileFileHarmsNothing()
    {
        QFETCH(HostileFile, file);
        WindowFixture window;
        const QString outside = window.path("outside");
        PrepareOutside(outside);
        // The corpus aims at this window's real paths.
        const QString script = window.workingFolder() + "/" + GhostscriptJob::ScriptName();
        for (const HostileFile &candidate : HostileCorpus(outside, script))
            if (candidate.name == file.name)
                file = candidate;
        QDir().mkpath(window.path("in"));
        QDir().mkpath(window.path("out"));
        const QString before = window.input("in/before.eps", "shapes.eps");
        const QString hostile = WriteHostileFile(window.path("in"), file);
        const QString after = window.input("in/after.eps", "text.eps");
        window.prepareRun({before, hostile, after}, window.path("out"));
        window.form->Conversion().setJobTimeLimit(std::chrono::seconds(3));
        const QString untouchable = Untouchable(window);

        window.start();

        QCOMPARE(Untouchable(window), untouchable); // nothing created, changed or deleted; inputs as they were
        QCOMPARE(ReadBytes(outside + "/sentinel.txt"), QByteArray("keep me"));
        QVERIFY(!QFileInfo::exists(window.workingFolder() + "/owned"));
        QCOMPARE(ReadBytes(script), (GhostscriptJob::ScriptText(window.form->QualityValue()) + "\n").toUtf8());
        const int quality = window.form->QualityValue();
        QCOMPARE(ReadBytes(window.path("out/before.jpg")), GhostscriptReference(before, quality));
        QCOMPARE(ReadBytes(window.path("out/after.jpg")), GhostscriptReference(after, quality));

        const QString closing = window.prompts.messages().last().text;
        const QString output = window.path("out/" + QFileInfo(hostile).completeBaseName() + ".jpg");
        if (file.converts) {
            QCOMPARE(closing, QString("Done."));
            QCOMPARE(ReadBytes(output), GhostscriptReference(hostile, quality));
        } else {
            QVERIFY2(closing.startsWith("Done.\r\n\r\n1 of 3 files produced no image:\r\n" + hostile + " ("),
                     qPrintable(closing));
            QVERIFY(!QFileInfo::exists(output));
            QCOMPARE(QDir(window.path("out")).entryList(QDir::Files | QDir::Hidden).size(), 2);
        }
        QVERIFY(!window.form->Conversion().IsConverting());
    }

    // What an earlier job may leave in the working folder, for the run after it.
    void whatAnEarlierJobLeftIsGone_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("a folder at the staged input") << QStringList{"current.eps"} << QStringList();
        QTest::newRow("a folder at the image") << QStringList{"current.jpg"} << QStringList();
        QTest::newRow("a folder at the script") << QStringList{"eps2jpg.sh"} << QStringList();
        QTest::newRow("folders within folders, closed")
            << QStringList{"current.eps/inner/deeper", "gstmp/x"} << QStringList{"current.eps/inner/f.txt"};
    }
    void whatAnEarlierJobLeftIsGone()
    {
        QFETCH(QStringList, folders);
        QFETCH(QStringList, files);
        WindowFixture window;
        FileSystem::EnsurePrivateFolder(window.workingFolder());
        for (const QString &folder : folders)
            QVERIFY(QDir().mkpath(window.workingFolder() + "/" + folder));
        for (const QString &file : files)
            WriteScript(window.workingFolder() + "/" + file, "exit 0\n");
        for (const QString &folder : folders) // as closed as its maker could leave it
            QFile::setPermissions(window.workingFolder() + "/" + folder, {});
        QDir().mkpath(window.path("out"));
        const QString first = window.input("in/first.eps", "shapes.eps");
        const QString second = window.input("in/second.eps", "text.eps");
        window.prepareRun({first, second}, window.path("out"));
        window.start();
        QCOMPARE(window.prompts.messages().last().text, QString("Done."));
        QCOMPARE(window.prompts.messages().size(), 1); // no report of a failed step either
        const int quality = window.form->QualityValue();
        QCOMPARE(ReadBytes(window.path("out/first.jpg")), GhostscriptReference(first, quality));
        QCOMPARE(ReadBytes(window.path("out/second.jpg")), GhostscriptReference(second, quality));
    }

#ifdef PELLUCOR_COMPROMISED_GS
    void aCompromisedGhostscriptIsConfined_data()
    {
        QTest::addColumn<QByteArray>("landlockAbi");
        QTest::addColumn<QByteArray>("namespaces");
        QTest::newRow("this kernel") << QByteArray() << QByteArray();
        // Landlock's signal scopes came with version 6: seccomp and the
        // namespaces hold without them.
        QTest::newRow("without Landlock's scopes") << QByteArray("5") << QByteArray();
        QTest::newRow("without scopes or namespaces") << QByteArray("5") << QByteArray("off");
    }
    void aCompromisedGhostscriptIsConfined()
    {
        QFETCH(QByteArray, landlockAbi);
        QFETCH(QByteArray, namespaces);
        if (!KernelConfinesFiles())
            QSKIP("this kernel cannot confine Ghostscript fully");
        const bool ownNamespaces = Sandbox::namespacesAvailable() && namespaces.isEmpty();
        QTemporaryDir home, application;
        WriteBytes(home.filePath("secret.txt"), "the launch code is 0000");
        QDir().mkpath(application.filePath("ps"));
        QVERIFY(QFile::copy(PELLUCOR_COMPROMISED_GS, application.filePath("ps/gs")));
        LoopbackListener listener;
        const EnvironmentScope environment{{"HOME", QFile::encodeName(home.path())},
                                           {"PELLUCOR_TEST_LISTENER_PORT", QByteArray::number(listener.port())},
                                           {"PELLUCOR_LANDLOCK_ABI", landlockAbi},
                                           {"PELLUCOR_NAMESPACES", namespaces}};
        const auto planted = [] {
            return QDir(QDir::tempPath()).entryList({"pellucor-compromised-*"}, QDir::Files | QDir::Hidden);
        };
        const QStringList plantedBefore = planted();
        const Bystanders bystanders;

        WindowFixture window([&](WindowFixture &) { FileSystem::SetApplicationFolder(application.path()); });
        QDir().mkpath(window.path("out"));
        // Each entry after the first runs the script the one before rewrote,
        // beside what it left: a folder at the staged name, a process that
        // stages a picture of its own, as many processes as it could make.
        const QStringList inputs{window.input("in/shapes.eps", "shapes.eps"), window.input("in/text.eps", "text.eps"),
                                 window.input("in/lines.eps", "lines.eps")};
        window.prepareRun(inputs, window.path("out"));
        window.start();
        QCOMPARE(window.prompts.messages().last().text, QString("Done."));
        const int made = ReadBytes(window.workingFolder() + "/forks.txt").trimmed().toInt();
        QVERIFY2(made > 0 && (!ownNamespaces || RunningAsRoot() || made < int(GhostscriptJob::JobProcessLimit)),
                 qPrintable(QString::number(made)));

        // The next run, with the system's Ghostscript, in the same working folder.
        FileSystem::SetApplicationFolder(PELLUCOR_APP_DIR);
        window.form->ListView1->Clear();
        const QStringList later{window.input("in/later-shapes.eps", "shapes.eps"), window.input("in/later-text.eps", "text.eps")};
        window.prepareRun(later, window.path("out"));
        window.start();
        QCOMPARE(window.prompts.messages().last().text, QString("Done."));

        const int quality = window.form->QualityValue();
        for (const QString &input : inputs + later) {
            const QByteArray image = ReadBytes(window.path("out/" + QFileInfo(input).completeBaseName() + ".jpg"));
            QVERIFY2(image == GhostscriptReference(input, quality), qPrintable(input));
            QVERIFY(!image.contains("launch code"));
        }
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"secret.txt"});
        QCOMPARE(planted(), plantedBefore);
        QVERIFY(!listener.connectionWaiting());
        QVERIFY(!ReadBytes(window.workingFolder() + "/id.txt").contains("uid="));
        QVERIFY(!ReadBytes(window.workingFolder() + "/id-loader.txt").contains("uid="));
        QTRY_COMPARE(ProcessesIn(window.root(), "gs"), QList<qint64>());
        QCOMPARE(bystanders.reached(), QStringList());
    }
#endif
};

PELLUCOR_REGISTER_TEST(HostileInputTest, ghostscript)
#include "tst_hostile.moc"
