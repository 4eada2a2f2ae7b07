#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "common/errorreport.h"

#include "filelist/listview.h"

#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <csignal>

namespace {

const QString Location = procedureLocation("Form1", "PushButton2_Click");

QString Report(const WindowFixture &window)
{
    for (const auto &message : window.prompts.messages())
        if (message.title == QLatin1String("Application Error"))
            return message.text;
    return {};
}

} // namespace

class FaultTest : public QObject
{
    Q_OBJECT

private slots:
    void anInputThatMayNotBeRead_data()
    {
        QTest::addColumn<bool>("wholeFolder");
        QTest::newRow("the file") << false;
        QTest::newRow("its folder") << true;
    }
    void anInputThatMayNotBeRead()
    {
        PELLUCOR_AS_ORDINARY_USER();
        QFETCH(bool, wholeFolder);
        WindowFixture window;
        const QString locked = window.input("in/locked/a.eps", "shapes.eps");
        const QString free = window.input("in/b.eps", "text.eps");
        const QByteArray bytes = ReadBytes(locked);
        const QString target = wholeFolder ? window.path("in/locked") : locked;
        QFile::setPermissions(target, wholeFolder ? QFileDevice::WriteOwner : QFileDevice::WriteOwner);
        window.prepareRun({locked, free}, window.path("in"));
        window.start();
        QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        QCOMPARE(Report(window), "Permission denied: " + locked + "\r\n" + Location
                                     + "at line 160\r\rPlease email screenshot of this message to support@example.com");
        QVERIFY(window.prompts.messages().last().text.contains(locked + " (the file could not be read)"));
        QCOMPARE(ReadBytes(locked), bytes);
        QVERIFY(QFileInfo::exists(window.path("in/b.jpg")));
    }

    void anOutputFolderThatMayNotBeWritten()
    {
        PELLUCOR_AS_ORDINARY_USER();
        WindowFixture window;
        const QString input = window.input("in/a.eps", "shapes.eps");
        QDir().mkpath(window.path("out"));
        WriteBytes(window.path("out/a.jpg"), "old image");
        QFile::setPermissions(window.path("out"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        window.prepareRun({input}, window.path("out"));
        window.start();
        QFile::setPermissions(window.path("out"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY2(Report(window).startsWith("Permission denied: " + window.path("out/a.jpg") + "\r\n" + Location
                                           + "at line 180"),
                 qPrintable(Report(window)));
        QVERIFY(window.prompts.messages().last().text.contains(input + " (the image could not be saved as "));
        QCOMPARE(ReadBytes(window.path("out/a.jpg")), QByteArray("old image"));
        QCOMPARE(QDir(window.path("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"a.jpg"});
    }

    void anOutputPathThatIsAFolder()
    {
        WindowFixture window;
        const QString input = window.input("in/a.eps", "shapes.eps");
        QDir().mkpath(window.path("out/a.jpg"));
        WriteBytes(window.path("out/a.jpg/inside.txt"), "kept");
        window.prepareRun({input}, window.path("out"));
        window.start();
        QVERIFY2(Report(window).startsWith("Path/File access error: " + window.path("out/a.jpg") + " is a folder\r\n"
                                           + Location + "at line 180"),
                 qPrintable(Report(window)));
        QCOMPARE(ReadBytes(window.path("out/a.jpg/inside.txt")), QByteArray("kept"));
        QCOMPARE(QDir(window.path("out")).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }

    void aTempThatIsAFile()
    {
        WindowFixture window;
        WriteBytes(window.path("not-a-folder"), "x");
        qputenv("TEMP", QFile::encodeName(window.path("not-a-folder")));
        window.prepareRun({window.input("in/a.eps", "shapes.eps")}, window.path("in"));
        window.start();
        QCOMPARE(window.prompts.messages().size(), 1); // one clear report, then the run ends
        QVERIFY2(Report(window).startsWith("The temporary folder \"" + window.path("not-a-folder")
                                           + "\" (environment variable TEMP) is not a folder"),
                 qPrintable(Report(window)));
        QVERIFY(Report(window).contains(Location + "at line 106"));
        QCOMPARE(ReadBytes(window.path("not-a-folder")), QByteArray("x"));
        QVERIFY(!window.form->Conversion().IsConverting());
    }

    void ghostscriptKilledWhileWriting()
    {
        WindowFixture window;
        QDir().mkpath(window.path("in"));
        WriteBytes(window.path("in/slow.eps"), SlowEps());
        const QString next = window.input("in/next.eps", "text.eps");
        window.prepareRun({window.path("in/slow.eps"), next}, window.path("in"));
        QWidget *form = window.form.get();
        bool killed = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, form, [&] {
            // Once the image is on its way, end Ghostscript as a crash or the user would.
            if (killed || QFileInfo(window.workingFolder() + "/current.jpg").size() == 0)
                return;
            if (const qint64 gs = FindGhostscriptIn(window.workingFolder())) {
                ::kill(pid_t(gs), SIGKILL);
                killed = true;
            }
        });
        watch.start(1);
        window.start();
        watch.stop();
        QVERIFY(killed);
        const QString closing = window.prompts.messages().last().text;
        QVERIFY2(closing.contains(window.path("in/slow.eps") + " (Ghostscript stopped before the image was complete)"),
                 qPrintable(closing));
        QVERIFY(!QFileInfo::exists(window.path("in/slow.jpg")));
        QCOMPARE(ReadBytes(window.path("in/next.jpg")), GhostscriptReference(next, window.form->QualityValue()));
    }
};

PELLUCOR_REGISTER_TEST(FaultTest, ghostscript)
#include "tst_faults.moc"
