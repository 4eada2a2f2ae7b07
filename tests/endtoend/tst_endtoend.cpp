#include "support/layouttable.h"
#include "support/testregistry.h"
#include "support/xsession.h"

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
                found = found || (child.geometry == place.pixels && parentRect(child) == ContainerPixels(place.container));
            QVERIFY2(found, qPrintable(place.name + " is not where the layout puts it"));
        }
    }
};

PELLUCOR_REGISTER_TEST(EndToEndTest)
#include "tst_endtoend.moc"
