#include "support/hostilecorpus.h"
#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "engine/ghostscriptjob.h"
#include "filelist/listview.h"

#include <QDir>
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
        window.append({before, hostile, after});
        window.form->Text1->setText(window.path("out"));
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
};

PELLUCOR_REGISTER_TEST(HostileInputTest)
#include "tst_hostile.moc"
