#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/xsession.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// One accessible of a walk: what the AT-SPI client printed for it.
struct Accessible
{
    int depth = 0;
    QString role, name, description, value;
    bool focused = false;
};

QList<Accessible> Parse(const QString &printed)
{
    QList<Accessible> found;
    for (const QString &line : printed.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() == 6)
            found.append({fields.at(0).toInt(), fields.at(1), fields.at(2), fields.at(3), fields.at(4),
                          fields.at(5) == QLatin1String("focused")});
    }
    return found;
}

QStringList ClientCommand(qint64 pid, const QString &mode)
{
    return {QStringLiteral(PELLUCOR_SOURCE_DIR "/tests/endtoend/atspi-client.py"), QString::number(pid), mode};
}

} // namespace

// The window as a screen reader meets it: the program on a virtual display
// with the accessibility bus, read from outside through AT-SPI, the
// interface screen readers read.
class AccessibilityTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!HaveDisplay() || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("no X display or session bus: run this test under dbus-run-session and xvfb-run, as CTest does");
        QVERIFY(m_home.isValid());
        QDir().mkpath(m_home.filePath("out"));
        QSettings stored(m_home.filePath("config/Veltranix.ini"), QSettings::IniFormat);
        stored.setValue("Pellucor/Output Folder", m_home.filePath("out"));
        stored.sync();
        QDir().mkpath(m_home.filePath("in"));
        for (const char *name : {"shapes.eps", "lines.eps", "text.eps"}) {
            m_inputs << m_home.filePath(QString("in/") + name);
            WriteBytes(m_inputs.last(), ReadBytes(TestDataPath(name)));
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("TEMP", m_home.filePath("temp"));
        environment.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        environment.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        m_program = std::make_unique<RunningProgram>(environment, m_inputs);
        QVERIFY(m_program->waitForMainWindow());
        m_tree = Parse(RunTool("/usr/bin/python3", ClientCommand(m_program->process().processId(), "tree")));
        QVERIFY2(!m_tree.isEmpty(), "the AT-SPI client saw nothing");
    }

    // Every control by its role and what it says on screen, in the order
    // the window holds them.
    void eachControlIsAnnouncedByWhatItSays_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("name");
        QTest::newRow("PushButton5") << "push button" << "Help";
        QTest::newRow("ListView1") << "tree" << "EPS File(s)";
        QTest::newRow("PushButton1") << "push button" << "Add EPS File(s)";
        QTest::newRow("PushButton3") << "push button" << "Add All EPS File(s) In Folder";
        QTest::newRow("PushButton6") << "push button" << "Clear List";
        QTest::newRow("PushButton7") << "push button" << "Load Sample/Example Files";
        QTest::newRow("Frame5") << "panel" << "Save Option";
        QTest::newRow("Option1") << "radio button" << "Save results to this folder:";
        QTest::newRow("Text1") << "text" << "Output folder";
        QTest::newRow("PushButton4") << "push button" << "Choose output folder";
        QTest::newRow("Option2") << "radio button" << "Save results in folder of original file";
        QTest::newRow("Frame3") << "panel" << "JPG Quality = 75";
        QTest::newRow("Label2") << "label" << "Min.";
        QTest::newRow("Slider1") << "slider" << "JPG Quality";
        QTest::newRow("Label3") << "label" << "Max.";
        QTest::newRow("PushButton2") << "push button" << "Start Converting To JPG";
        QTest::newRow("ProgressBar1") << "progress bar" << "Progress";
    }
    void eachControlIsAnnouncedByWhatItSays()
    {
        QFETCH(QString, role);
        QFETCH(QString, name);
        const auto found = std::find_if(m_tree.begin() + m_walked, m_tree.end(),
                                        [&](const Accessible &a) { return a.role == role && a.name == name; });
        QVERIFY2(found != m_tree.end(), qPrintable(role + " \"" + name + "\" not found in its place"));
        m_walked = int(found - m_tree.begin()) + 1;
        for (const Accessible &other : m_tree)
            QVERIFY2(&other == &*found || !other.name.contains(QTest::currentDataTag()), "named by its object name");
    }

    void valuesAndEntriesAreReadable()
    {
        const auto named = [&](const QString &name) {
            return *std::find_if(m_tree.begin(), m_tree.end(), [&](const Accessible &a) { return a.name == name; });
        };
        QCOMPARE(named("JPG Quality").value, QString("75.0"));
        QCOMPARE(named("Progress").value, QString("0.0"));
        QCOMPARE(named("Progress").description, QString("Progress Bar"));
        for (const QString &input : std::as_const(m_inputs))
            QVERIFY2(std::any_of(m_tree.begin(), m_tree.end(), [&](const Accessible &a) { return a.name == input; }),
                     qPrintable(input));
    }

    // Tab reaches Start, Space presses it; the bar's description follows the
    // conversion, and the closing message is read as a dialog with its text.
    void aConversionByKeyboardIsFollowedAloud()
    {
        RunningProgram::focus(m_program->mainWindow());
        m_program->key("Tab Tab Tab Tab Tab");
        const auto focusedName = [&] {
            for (const Accessible &a :
                 Parse(RunTool("/usr/bin/python3", ClientCommand(m_program->process().processId(), "tree"))))
                if (a.focused && a.role == QLatin1String("push button"))
                    return a.name;
            return QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(focusedName(), QString("Start Converting To JPG"), 10000);

        QProcess watcher;
        watcher.start("/usr/bin/python3", ClientCommand(m_program->process().processId(), "watch"));
        QVERIFY(watcher.waitForReadyRead(30000));
        QCOMPARE(watcher.readLine().trimmed(), QByteArray("ready"));
        m_program->key("space");
        QVERIFY(watcher.waitForFinished(120000));
        QCOMPARE(watcher.exitCode(), 0);
        const QString said = QString::fromUtf8(watcher.readAll());
        QStringList descriptions;
        for (const QString &line : said.split(u'\n'))
            if (line.startsWith("description\t"))
                descriptions << line.section(u'\t', 1);
        for (const QString &input : std::as_const(m_inputs))
            QVERIFY2(descriptions.contains("Processing: " + QFileInfo(input).fileName()), qPrintable(said));
        const QList<Accessible> dialog = Parse(said);
        QVERIFY2(!dialog.isEmpty() && QStringList({"dialog", "alert"}).contains(dialog.first().role), qPrintable(said));
        QVERIFY2(std::any_of(dialog.begin(), dialog.end(), [](const Accessible &a) { return a.name == "Done."; }),
                 qPrintable(said));
        m_program->key("Return");
        for (const QString &input : std::as_const(m_inputs))
            QCOMPARE(ReadBytes(m_home.filePath("out/" + QFileInfo(input).completeBaseName() + ".jpg")),
                     GhostscriptReference(input, 75));
    }

    void cleanupTestCase() { m_program.reset(); }

private:
    QTemporaryDir m_home;
    QStringList m_inputs;
    std::unique_ptr<RunningProgram> m_program;
    QList<Accessible> m_tree;
    int m_walked = 0;
};

PELLUCOR_REGISTER_TEST(AccessibilityTest, ghostscript x11 accessibility)
#include "tst_accessibility.moc"
