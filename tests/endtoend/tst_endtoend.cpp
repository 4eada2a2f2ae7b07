#include "support/layouttable.h"
#include "support/testregistry.h"
#include "support/xsession.h"

#include "support/testfiles.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

QProcessEnvironment ProgramEnvironment(const QTemporaryDir &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("TEMP"), home.filePath(QStringLiteral("temp")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    return environment;
}

// Where to click: the middle of a control, in client coordinates.
QPoint Centre(const QString &name)
{
    for (const ControlPlace &place : MainWindowLayout()) {
        if (place.name != name)
            continue;
        QPoint origin = place.pixels.topLeft();
        for (QString container = place.container; container != QLatin1String("Form1");) {
            const auto parent = std::find_if(MainWindowLayout().begin(), MainWindowLayout().end(),
                                             [&](const ControlPlace &p) { return p.name == container; });
            origin += parent->pixels.topLeft();
            container = parent->container;
        }
        return origin + QPoint(place.pixels.width() / 2, place.pixels.height() / 2);
    }
    return {};
}

// The left end of a control, where an option button's circle is.
QPoint LeftEnd(const QString &name)
{
    const QPoint centre = Centre(name);
    for (const ControlPlace &place : MainWindowLayout())
        if (place.name == name)
            return centre - QPoint(place.pixels.width() / 2 - 6, 0);
    return centre;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!HaveDisplay())
            QSKIP("no X display: run this test under xvfb-run, as CTest does");
    }

    void choicesOfOneRunAreTheNextRunsStart();

    void samplesConvertedByAUser();
    void filesNamedOnTheCommandLine();
    void handPointerOverAButton();
    void twoWindowsConvertingAtOnce();

    void windowGeometryFromOutside()
    {
        QTemporaryDir home;
        QProcessEnvironment environment = ProgramEnvironment(home);
        // Every control its own X window, so that xwininfo can see where it stands.
        environment.insert(QStringLiteral("QT_USE_NATIVE_WINDOWS"), QStringLiteral("1"));
        RunningProgram program(environment);
        const quint64 window = program.waitForMainWindow();
        QVERIFY2(window != 0, "the main window did not appear");
        QCOMPARE(RunningProgram::Geometry(window).size(), MainWindowSize);

        const QList<XWindow> tree = WindowTree(window);
        QVERIFY(!tree.isEmpty());
        const auto parentRect = [&](const XWindow &child) {
            return child.parent < 0 ? QRect(QPoint(0, 0), MainWindowSize) : tree.at(child.parent).geometry;
        };
        for (const ControlPlace &place : MainWindowLayout()) {
            bool found = false;
            for (const XWindow &child : tree)
                found = found
                        || (child.geometry == place.pixels && parentRect(child) == ContainerPixels(place.container));
            QVERIFY2(found, qPrintable(place.name + " is not where the layout puts it"));
        }
    }
};

void EndToEndTest::choicesOfOneRunAreTheNextRunsStart()
{
    QTemporaryDir home;
    QDir().mkpath(home.filePath("in"));
    QDir().mkpath(home.filePath("out"));
    const QString input = home.filePath("in/shapes.eps");
    QVERIFY(QFile::copy(TestDataPath("shapes.eps"), input));
    {
        RunningProgram first(ProgramEnvironment(home));
        QVERIFY(first.waitForMainWindow());
        first.click(Centre("Text1"));
        first.key("ctrl+a BackSpace");
        first.type(home.filePath("out"));
        first.click(Centre("Slider1"));
        first.key("End Next Next Next Next Next Next"); // 100, then six pages of 5 down
        first.click(LeftEnd("Option2"));
        QSettings stored(home.filePath("config/Veltranix.ini"), QSettings::IniFormat);
        QTRY_COMPARE(stored.value("Pellucor/Option2").toString(), QString("True"));
        QTRY_COMPARE(QSettings(home.filePath("config/Veltranix.ini"), QSettings::IniFormat)
                         .value("Pellucor/JPGQuality")
                         .toString(),
                     QString("70"));
        QCOMPARE(QSettings(home.filePath("config/Veltranix.ini"), QSettings::IniFormat)
                     .value("Pellucor/Output Folder")
                     .toString(),
                 home.filePath("out"));
    } // the first run ends here; nothing is saved at its end

    RunningProgram second(ProgramEnvironment(home));
    QVERIFY(second.waitForMainWindow());
    second.click(Centre("PushButton1"));
    const QString dialogTitle = "Add File(s) - Hold Ctrl to select multiple files";
    const quint64 dialog = second.waitForDialog(dialogTitle);
    QVERIFY(dialog);
    // Keys typed before the dialog has the keyboard go elsewhere.
    QTRY_COMPARE_WITH_TIMEOUT(RunningProgram::FocusedWindow(), dialog, 30000);
    second.type(input);
    second.key("Return");
    // A click while the dialog is still open is lost, which a busy machine
    // (tests running side by side) makes likely.
    QTRY_VERIFY_WITH_TIMEOUT(second.windowsTitled(dialogTitle).isEmpty(), 30000);
    second.click(Centre("PushButton2"));
    const quint64 done = second.waitForDialog("Pellucor", 120000);
    QVERIFY2(done, "no closing message");
    // Restored: the input-folder mode (the image lies beside its input) and the quality 70.
    QCOMPARE(ReadBytes(home.filePath("in/shapes.jpg")), GhostscriptReference(input, 70));
    QVERIFY(!QFileInfo::exists(home.filePath("out/shapes.jpg")));
    second.key("Return");
}

void EndToEndTest::samplesConvertedByAUser()
{
    QTemporaryDir home;
    QDir().mkpath(home.filePath("out"));
    {
        QSettings stored(home.filePath("config/Veltranix.ini"), QSettings::IniFormat);
        stored.setValue("Pellucor/Output Folder", home.filePath("out"));
    }
    RunningProgram program(ProgramEnvironment(home));
    QVERIFY(program.waitForMainWindow());
    program.click(Centre("PushButton7"));
    QVERIFY2(program.waitForDialog("Pellucor"), "the question about the sample folder did not come");
    program.key("alt+n");
    QTRY_COMPARE(program.windowsTitled("Pellucor").size(), 1);
    program.click(Centre("PushButton2"));
    QVERIFY2(program.waitForDialog("Pellucor", 300000), "no closing message");

    const QDir samples(QStringLiteral(PELLUCOR_APP_DIR "/Samples"));
    const QStringList names = samples.entryList({"*.eps"}, QDir::Files);
    QVERIFY(names.size() >= 4);
    for (const QString &name : names) {
        const QString image = home.filePath("out/" + QFileInfo(name).completeBaseName() + ".jpg");
        QCOMPARE(ReadBytes(image), GhostscriptReference(samples.filePath(name), 75));
    }
    program.key("Return");
}

void EndToEndTest::filesNamedOnTheCommandLine()
{
    QTemporaryDir home;
    for (const char *name : {"in/a.eps", "in/folder/b.eps", "in/folder/sub/c.ps"}) {
        QDir().mkpath(QFileInfo(home.filePath(name)).absolutePath());
        QVERIFY(QFile::copy(TestDataPath("shapes.eps"), home.filePath(name)));
    }
    QDir().mkpath(home.filePath("out"));
    {
        QSettings stored(home.filePath("config/Veltranix.ini"), QSettings::IniFormat);
        stored.setValue("Pellucor/Output Folder", home.filePath("out"));
    }
    // As a file manager's "Open with" passes them: a file and a folder.
    RunningProgram program(ProgramEnvironment(home), {home.filePath("in/a.eps"), home.filePath("in/folder") + "/"});
    QVERIFY(program.waitForMainWindow());
    QVERIFY(!program.waitForDialog("Pellucor", 1000)); // nothing else happens until Start
    program.click(Centre("PushButton2"));
    QVERIFY2(program.waitForDialog("Pellucor", 120000), "no closing message");
    // A drop of a folder takes every file of its tree, whatever the extension.
    QCOMPARE(QDir(home.filePath("out")).entryList(QDir::Files), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
    QCOMPARE(ReadBytes(home.filePath("out/c.jpg")), GhostscriptReference(home.filePath("in/folder/sub/c.ps"), 75));
    program.key("Return");
}

void EndToEndTest::handPointerOverAButton()
{
    QTemporaryDir home;
    RunningProgram program(ProgramEnvironment(home));
    QVERIFY(program.waitForMainWindow());
    const QImage hand =
        QImage(QStringLiteral(PELLUCOR_APP_DIR "/HAND-M.CUR")).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(hand.size(), QSize(32, 32));

    program.moveTo(Centre("PushButton3") - QPoint(20, 0));
    program.moveTo(Centre("PushButton3"));
    QTRY_COMPARE(CurrentPointer().hotSpot, QPoint(12, 1));
    const PointerImage overButton = CurrentPointer();
    QCOMPARE(overButton.image, hand);

    // Over the frame background the default pointer comes back.
    program.moveTo(Centre("Frame5") + QPoint(150, 40));
    QTRY_VERIFY(CurrentPointer().image != hand);
}

void EndToEndTest::twoWindowsConvertingAtOnce()
{
    // Two instances share the working folder (one TEMP) but not their choices.
    QTemporaryDir home;
    QStringList inputs;
    const char *data[] = {"shapes.eps", "lines.eps", "text.eps"};
    for (int i = 0; i < 45; ++i) {
        inputs << home.filePath(QString("in/f%1.eps").arg(i, 2, 10, QChar('0')));
        QDir().mkpath(home.filePath("in"));
        QVERIFY(QFile::copy(TestDataPath(data[i % 3]), inputs.last()));
    }
    QProcessEnvironment first = ProgramEnvironment(home), second = ProgramEnvironment(home);
    first.insert("XDG_CONFIG_HOME", home.filePath("config1"));
    second.insert("XDG_CONFIG_HOME", home.filePath("config2"));
    for (const auto &[config, out, quality] :
         {std::tuple{"config1", "out1", "30"}, std::tuple{"config2", "out2", "90"}}) {
        QDir().mkpath(home.filePath(out));
        QSettings stored(home.filePath(QString(config) + "/Veltranix.ini"), QSettings::IniFormat);
        stored.setValue("Pellucor/Output Folder", home.filePath(out));
        stored.setValue("Pellucor/JPGQuality", quality);
    }

    RunningProgram one(first), two(second);
    QVERIFY(one.waitForMainWindow());
    QVERIFY(two.waitForMainWindow());
    // Side by side, so that every click lands on the window it is meant for.
    const QRect centred = RunningProgram::Geometry(one.mainWindow());
    two.moveWindow(QPoint(centred.right() + 20, 0));
    QTRY_COMPARE(RunningProgram::Geometry(two.mainWindow()).left(), centred.right() + 20);
    const QImage hand =
        QImage(QStringLiteral(PELLUCOR_APP_DIR "/HAND-M.CUR")).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (RunningProgram *program : {&one, &two}) {
        program->click(Centre("PushButton3"));
        const quint64 prompt = program->waitForDialog("Pellucor");
        QVERIFY(prompt);
        RunningProgram::focus(prompt);
        program->type("eps");
        program->key("Return");
        const quint64 picker = program->waitForDialog("Please select folder:");
        QVERIFY(picker);
        RunningProgram::focus(picker);
        program->type(home.filePath("in"));
        program->key("Return");
        QTRY_VERIFY_WITH_TIMEOUT(program->windowsTitled("Please select folder:").isEmpty(), 30000);
        // With the picker gone the pointer is the window's: the scan's busy
        // pointer wherever it is, in place of the hand the click left, and
        // the hand over a button again only once the scan is over.
        QVERIFY(program->waitForPointer(Centre("Frame5") + QPoint(150, 40),
                                        [&](const QImage &image) { return image != hand; }));
        QVERIFY2(program->waitForPointer(Centre("PushButton3"), [&](const QImage &image) { return image == hand; }),
                 "the folder scan did not end");
    }
    // Windows the prompts left behind are no closing message.
    const QList<quint64> seenOne = one.windowsTitled("Pellucor"), seenTwo = two.windowsTitled("Pellucor");
    one.click(Centre("PushButton2"));
    two.click(Centre("PushButton2"));
    QVERIFY2(one.windowsTitled("Pellucor") == seenOne, "the first run ended before the second began");
    // Each closing message waits for its user; neither holds the other up.
    QVERIFY2(two.waitForDialog("Pellucor", 300000, seenTwo), "no closing message from the second window");
    QVERIFY2(one.waitForDialog("Pellucor", 300000, seenOne), "no closing message from the first window");
    for (const QString &input : inputs) {
        const QString name = QFileInfo(input).completeBaseName() + ".jpg";
        QCOMPARE(ReadBytes(home.filePath("out1/" + name)), GhostscriptReference(input, 30));
        QCOMPARE(ReadBytes(home.filePath("out2/" + name)), GhostscriptReference(input, 90));
    }
}

PELLUCOR_REGISTER_TEST(EndToEndTest, ghostscript x11)
#include "tst_endtoend.moc"
