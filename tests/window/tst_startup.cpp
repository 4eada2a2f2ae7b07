#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "common/errorreport.h"

#include "common/filesystem.h"
#include "filelist/listview.h"
#include "engine/settingsstore.h"
#include "window/startuphelpers.h"

#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>

using namespace SettingsStore;

namespace {

using Settings = QList<QPair<QString, QString>>;

// A window whose store holds `stored` when it loads.
std::function<void(WindowFixture &)> Storing(const Settings &stored)
{
    return [stored](WindowFixture &) {
        for (const auto &[key, value] : stored)
            WriteSetting(key, value);
    };
}

// The default output folder: the desktop folder, or the home folder where there is none.
QString DefaultFolder()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return (QFileInfo(desktop).isDir() ? desktop : QDir::homePath()) + "/";
}

QString StoredText(const WindowFixture &window, const QString &key)
{
    QSettings file(window.settingsFile(), QSettings::IniFormat);
    return file.value("Pellucor/" + key, "<missing>").toString();
}

} // namespace

class StartUpTest : public QObject
{
    Q_OBJECT

private slots:
    void emptyStoreGivesTheDefaults()
    {
        WindowFixture window;
        Form1 &form = *window.form;
        QCOMPARE(form.Text1->text(), DefaultFolder());
        QCOMPARE(form.Slider1->value(), 75);
        QCOMPARE(form.Frame3->title(), QString("JPG Quality = 75"));
        QVERIFY(form.Option1->isChecked());
        QVERIFY(!form.Option2->isChecked());
        QVERIFY(form.Frame1->isEnabled());
        QVERIFY(window.prompts.shown.isEmpty());
        // Restoring is no change of the user's: nothing is written.
        QVERIFY(!QFileInfo::exists(window.settingsFile()));
    }

    void storedChoicesAreRestored_data()
    {
        QTest::addColumn<Settings>("stored");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("quality");
        QTest::addColumn<bool>("option1");
        QTest::addColumn<bool>("option2");
        const QString desktop = DefaultFolder();
        QTest::newRow("an emptied folder stays empty") << Settings{{OutputFolder, ""}} << "" << 75 << true << false;
        QTest::newRow("folder kept as typed")
            << Settings{{OutputFolder, "/data/out"}} << "/data/out" << 75 << true << false;
        QTest::newRow("both options true: the second wins")
            << Settings{{Option1, "True"}, {Option2, "True"}} << desktop << 75 << false << true;
        QTest::newRow("option two") << Settings{{Option1, "False"}, {Option2, "True"}} << desktop << 75 << false
                                    << true;
        QTest::newRow("options as numbers and any case")
            << Settings{{Option1, "0"}, {Option2, "tRUE"}} << desktop << 75 << false << true;
        QTest::newRow("both options false: neither")
            << Settings{{Option1, "False"}, {Option2, "False"}} << desktop << 75 << false << false;
        QTest::newRow("quality with letters after it")
            << Settings{{JPGQuality, "80abc"}} << desktop << 80 << true << false;
        QTest::newRow("quality of letters only") << Settings{{JPGQuality, "abc"}} << desktop << 0 << true << false;
        QTest::newRow("74.5 rounds to even") << Settings{{JPGQuality, "74.5"}} << desktop << 74 << true << false;
        QTest::newRow("75.5 rounds to even") << Settings{{JPGQuality, "75.5"}} << desktop << 76 << true << false;
        QTest::newRow("quality beyond the slider") << Settings{{JPGQuality, "250"}} << desktop << 100 << true << false;
    }
    void storedChoicesAreRestored()
    {
        QFETCH(Settings, stored);
        QFETCH(QString, folder);
        QFETCH(int, quality);
        QFETCH(bool, option1);
        QFETCH(bool, option2);
        WindowFixture window(Storing(stored));
        Form1 &form = *window.form;
        QCOMPARE(form.Text1->text(), folder);
        QCOMPARE(form.Slider1->value(), quality);
        QCOMPARE(form.Frame3->title(), "JPG Quality = " + QString::number(quality));
        QCOMPARE(form.Option1->isChecked(), option1);
        QCOMPARE(form.Option2->isChecked(), option2);
        QCOMPARE(form.Frame1->isEnabled(), option1);
        QVERIFY(window.prompts.shown.isEmpty());
        // The options still exclude each other once the user picks one.
        QTest::mouseClick(form.Option1, Qt::LeftButton);
        QVERIFY(form.Option1->isChecked() && !form.Option2->isChecked());
        QTest::mouseClick(form.Option2, Qt::LeftButton);
        QVERIFY(!form.Option1->isChecked() && form.Option2->isChecked());
    }

    void anOptionThatIsNoBooleanIsReportedAndStartUpGoesOn()
    {
        WindowFixture window(Storing({{Option1, "maybe"}, {Option2, "True"}, {JPGQuality, "40"}}));
        const auto messages = window.prompts.messages();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.first().title, QString("Application Error"));
        QVERIFY2(messages.first().text.contains("\r\n" + procedureLocation("Form1", "Form_Load") + "at line 138\r\r"),
                 qPrintable(messages.first().text));
        QVERIFY(window.form->Option2->isChecked());
        QVERIFY(!window.form->Frame1->isEnabled());
        QCOMPARE(window.form->Slider1->value(), 40);
    }

    void homePageOpensOnlyOnSeven_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("opened");
        QTest::newRow("1") << 1 << false;
        QTest::newRow("6") << 6 << false;
        QTest::newRow("7") << 7 << true;
        QTest::newRow("8") << 8 << false;
        QTest::newRow("100") << 100 << false;
    }
    void homePageOpensOnlyOnSeven()
    {
        QFETCH(int, number);
        QFETCH(bool, opened);
        int draws = 0;
        WindowFixture window([&](WindowFixture &fixture) {
            fixture.form->SetStartUpNumberSource([&] {
                ++draws;
                return number;
            });
        });
        QCOMPARE(draws, 1);
        QList<ScriptedPrompts::Shown> web;
        for (const auto &shown : window.prompts.shown)
            if (shown.kind == "web")
                web << shown;
        QCOMPARE(web.size(), opened ? 1 : 0);
        if (opened)
            QCOMPARE(web.first().text, QString("https://www.example.com/pellucor/"));
    }

    void skinPresentAndAbsent_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("absent") << false;
        QTest::newRow("present") << true;
    }
    void skinPresentAndAbsent()
    {
        QFETCH(bool, present);
        QTemporaryDir application;
        const QByteArray sheet = "QPushButton { color: rgb(1, 2, 3); }";
        if (present) {
            QDir().mkpath(application.filePath("x"));
            WriteBytes(application.filePath("x/o.cjs"), sheet);
        }
        WindowFixture window([&](WindowFixture &) { FileSystem::SetApplicationFolder(application.path()); });
        Form1 &form = *window.form;
        const QColor expected = present ? form.palette().color(QPalette::Button) : QColor(Qt::white);
        QCOMPARE(form.palette().color(QPalette::Window), expected);
        for (const char *name : {"Frame5", "Frame1", "Frame3", "Option1", "Option2", "Label2", "Label3"}) {
            QWidget *control = form.findChild<QWidget *>(name);
            QCOMPARE(control->palette().color(QPalette::Window), expected);
            QCOMPARE(control->autoFillBackground(), present);
        }
        // Buttons and the list keep their own colours.
        QCOMPARE(form.PushButton2->palette().color(QPalette::Button), QColor(Qt::white));
        QCOMPARE(form.styleSheet(), present ? QString(sheet) : QString());
        QVERIFY(window.prompts.shown.isEmpty());
    }

    void handPointerFromTheApplicationFolder()
    {
        WindowFixture window;
        Form1 &form = *window.form;
        form.SetMousePointer(PointerKind::Custom);
        QCOMPARE(form.cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(form.cursor().hotSpot(), QPoint(12, 1)); // the fingertip of our drawing
        QCOMPARE(form.cursor().pixmap().size(), QSize(32, 32));
    }

    void missingOrBrokenHandPointer()
    {
        QTemporaryDir application;
        {
            WindowFixture window([&](WindowFixture &) { FileSystem::SetApplicationFolder(application.path()); });
            QVERIFY(window.prompts.shown.isEmpty());
            window.form->SetMousePointer(PointerKind::Custom);
            QCOMPARE(window.form->cursor().shape(), Qt::ArrowCursor);
        }
        WriteBytes(application.filePath("HAND-M.CUR"), "not a picture");
        WindowFixture window([&](WindowFixture &) { FileSystem::SetApplicationFolder(application.path()); });
        QCOMPARE(window.prompts.messages().size(), 1);
        QVERIFY(window.prompts.messages().first().text.contains("Form_Load at line 104"));
        QCOMPARE(window.form->windowTitle(), QString("Pellucor")); // start-up went on
        QCOMPARE(window.form->Slider1->value(), 75);
    }

    void captionIconTitleAndColumn()
    {
        WindowFixture window;
        QCOMPARE(window.form->windowTitle(), QString("Pellucor"));
        QVERIFY(!window.form->windowIcon().isNull());
        QCOMPARE(ApplicationTitle(), QString("Pellucor"));
        QCOMPARE(window.form->ListView1->columnCount(), 1);
        QCOMPARE(window.form->ListView1->headerItem()->text(0), QString("EPS File(s)"));
    }

    void titleShortening_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::newRow("no blank") << "Pellucor" << "Pellucor";
        QTest::newRow("last word goes") << "Pellucor EPS to JPG" << "Pellucor EPS to";
        QTest::newRow("five words, 29 characters") << "Alpha Bravo Charlie Delta Ech" << "Alpha Bravo Charlie Delta";
        QTest::newRow("sixty characters") << "Pellucor Batch Converter For Encapsulated PostScript Files XY"
                                          << "Pellucor Batch Converter For";
    }
    void titleShortening()
    {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QCOMPARE(ShortenTitle(name), title);
        QVERIFY(ShortenTitle(name).size() <= 40 || !name.contains(' '));
    }
};

class OutputOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void optionClicksWriteBothKeys()
    {
        WindowFixture window;
        Form1 &form = *window.form;
        QTest::mouseClick(form.Option2, Qt::LeftButton, {}, QPoint(5, form.Option2->height() / 2));
        QVERIFY(form.Option2->isChecked());
        QCOMPARE(StoredText(window, Option1), QString("False"));
        QCOMPARE(StoredText(window, Option2), QString("True"));
        QVERIFY(!form.Frame1->isEnabled());
        QVERIFY(!form.Text1->isEnabled());
        QVERIFY(!form.PushButton4->isEnabled());
        const QString folder = form.Text1->text();
        QTest::mouseClick(form.Option1, Qt::LeftButton, {}, QPoint(5, form.Option1->height() / 2));
        QCOMPARE(StoredText(window, Option1), QString("True"));
        QCOMPARE(StoredText(window, Option2), QString("False"));
        QVERIFY(form.Text1->isEnabled());
        QCOMPARE(form.Text1->text(), folder); // contents stay
    }

    void sliderEndsWriteAndShow_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("Home gives 0") << int(Qt::Key_Home) << "0";
        QTest::newRow("End gives 100") << int(Qt::Key_End) << "100";
        QTest::newRow("Page Up steps by 5") << int(Qt::Key_PageUp) << "80";
        QTest::newRow("an arrow steps by 1") << int(Qt::Key_Right) << "76";
    }
    void sliderEndsWriteAndShow()
    {
        QFETCH(int, key);
        QFETCH(QString, value);
        WindowFixture window;
        QTest::keyClick(window.form->Slider1, Qt::Key(key));
        QCOMPARE(StoredText(window, JPGQuality), value);
        QCOMPARE(window.form->Frame3->title(), "JPG Quality = " + value);
    }

    void typingWritesEveryChange()
    {
        WindowFixture window;
        QLineEdit *text = window.form->Text1;
        text->clear();
        QCOMPARE(StoredText(window, OutputFolder), QString(""));
        QTest::keyClicks(text, "/o");
        QCOMPARE(StoredText(window, OutputFolder), QString("/o"));
    }

    void browsing_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("text");
        QTest::newRow("a folder gets a separator") << "/data/out" << "/data/out/";
        QTest::newRow("the root keeps its one") << "/" << "/";
    }
    void browsing()
    {
        QFETCH(QString, answer);
        QFETCH(QString, text);
        WindowFixture window(Storing({{LastFolderDot, "/data/last"}}));
        window.prompts.folderAnswers.enqueue(answer);
        QTest::mouseClick(window.form->PushButton4, Qt::LeftButton);
        const auto picker = window.prompts.shown.first();
        QCOMPARE(picker.kind, QString("folder"));
        QCOMPARE(picker.text, QString("Please select folder:"));
        QCOMPARE(picker.defaultText, QString("/data/last"));
        QCOMPARE(window.form->Text1->text(), text);
        QCOMPARE(StoredText(window, LastFolderDot), answer);
        QCOMPARE(StoredText(window, OutputFolder), text);
    }

    void cancelledBrowsingChangesNothing()
    {
        WindowFixture window(Storing({{LastFolderDot, "/data/last"}, {OutputFolder, "/data/out/"}}));
        QTest::mouseClick(window.form->PushButton4, Qt::LeftButton);
        QCOMPARE(window.form->Text1->text(), QString("/data/out/"));
        QCOMPARE(StoredText(window, LastFolderDot), QString("/data/last"));
        QCOMPARE(StoredText(window, OutputFolder), QString("/data/out/"));
        QCOMPARE(window.prompts.messages().size(), 0);
    }
};

PELLUCOR_REGISTER_TEST(StartUpTest, unit)
PELLUCOR_REGISTER_TEST(OutputOptionsTest, unit)
#include "tst_startup.moc"
