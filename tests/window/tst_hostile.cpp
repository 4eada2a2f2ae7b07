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

#ifdef PELLUCOR_COMPROMISED_GS
    void aCompromisedGhostscriptIsConfined()
    {
        if (!Sandbox::missing().empty())
            QSKIP("this kernel cannot confine Ghostscript fully");
        QTemporaryDir home, application;
        WriteBytes(home.filePath("secret.txt"), "the launch code is 0000");
        QDir().mkpath(application.filePath("ps"));
        QVERIFY(QFile::copy(PELLUCOR_COMPROMISED_GS, application.filePath("ps/gs")));
        LoopbackListener listener;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("PELLUCOR_TEST_LISTENER_PORT", QByteArray::number(listener.port()));
        const auto planted = [] {
            return QDir(QDir::tempPath()).entryList({"pellucor-compromised-*"}, QDir::Files | QDir::Hidden);
        };
        const QStringList plantedBefore = planted();

        WindowFixture window([&](WindowFixture &) { FileSystem::SetApplicationFolder(application.path()); });
        QDir().mkpath(window.path("out"));
        const QString input = window.input("in/shapes.eps", "shapes.eps");
        const QString next = window.input("in/text.eps", "text.eps"); // runs the script the first one rewrote
        window.prepareRun({input, next}, window.path("out"));
        window.start();
        qputenv("HOME", oldHome);
        qunsetenv("PELLUCOR_TEST_LISTENER_PORT");

        QCOMPARE(window.prompts.messages().last().text, QString("Done."));
        const QByteArray image = ReadBytes(window.path("out/shapes.jpg"));
        QCOMPARE(image, GhostscriptReference(input, window.form->QualityValue()));
        QCOMPARE(ReadBytes(window.path("out/text.jpg")), GhostscriptReference(next, window.form->QualityValue()));
        QVERIFY(!image.contains("launch code"));
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"secret.txt"});
        QCOMPARE(planted(), plantedBefore);
        QVERIFY(!listener.connectionWaiting());
        QVERIFY(!ReadBytes(window.workingFolder() + "/id.txt").contains("uid="));
    }
#endif
};

PELLUCOR_REGISTER_TEST(HostileInputTest)
#include "tst_hostile.moc"
