#include "common/runtimeerror.h"
#include "common/userprompts.h"

#include "support/scriptedprompts.h"
#include "support/testregistry.h"

#include <QDir>
#include <QTest>

namespace {

// A path below this system's root: on Windows, below its drive.
QString Absolute(const char *path)
{
    return QDir::rootPath().chopped(1) + QLatin1String(path);
}

// The same path as the system's file dialog writes it.
QString Native(const char *path)
{
    return QDir::toNativeSeparators(Absolute(path));
}

} // namespace

class PromptsTest : public QObject
{
    Q_OBJECT

private slots:
    void fileDialogAnswer_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QString>("answer");
        const QChar nul(0);
        QTest::newRow("cancel") << QStringList{} << QString();
        QTest::newRow("one file is its full path") << QStringList{Absolute("/work/x.eps")} << Native("/work/x.eps");
        QTest::newRow("several: folder, then names")
            << QStringList{Absolute("/work/a.eps"), Absolute("/work/b.eps"), Absolute("/work/c.eps")}
            << Native("/work") + nul + "a.eps" + nul + "b.eps" + nul + "c.eps";
        QTest::newRow("several at the root")
            << QStringList{Absolute("/a.eps"), Absolute("/b.eps")} << Native("/") + nul + "a.eps" + nul + "b.eps";
        QTest::newRow("several from different folders: no folder, full paths")
            << QStringList{Absolute("/work/a.eps"), Absolute("/old/b.eps"), Absolute("/work/c.eps")}
            << QString() + nul + Native("/work/a.eps") + nul + Native("/old/b.eps") + nul + Native("/work/c.eps");
    }
    void fileDialogAnswer()
    {
        QFETCH(QStringList, paths);
        QFETCH(QString, answer);
        QCOMPARE(FileDialogAnswer(paths, 30000), answer);
    }

    void answerLongerThanTheBufferIsError20476()
    {
        // The folder and 2727 names of ten characters, each after a NUL:
        // 30000 characters below the root of Linux ("/fo").
        const QString folder = Absolute("/fo");
        const int bufferSize = int(Native("/fo").size()) + 2727 * 11;
        QStringList paths;
        for (int i = 0; i < 2727; ++i)
            paths << folder + QString("/n%1.eps").arg(i, 5, 10, QChar('0'));
        QCOMPARE(FileDialogAnswer(paths, bufferSize).size(), bufferSize);
        paths << folder + "/x";
        try {
            FileDialogAnswer(paths, bufferSize);
            QFAIL("an overlong answer was accepted");
        } catch (const RuntimeError &error) {
            QCOMPARE(error.number(), 20476);
        }
    }

    void boxesWithoutTitleCarryTheApplicationTitle()
    {
        ScriptedPrompts prompts;
        SetApplicationTitle("Pellucor");
        ShowMessage("Done.");
        ShowMessage("Oops", UserPrompts::OkOnly, UserPrompts::Exclamation, "Application Error");
        ShowInputBox("Enter:", "eps");
        QCOMPARE(prompts.shown.size(), 3);
        QCOMPARE(prompts.shown.at(0).title, QString("Pellucor"));
        QCOMPARE(prompts.shown.at(1).title, QString("Application Error"));
        QCOMPARE(prompts.shown.at(1).icon, int(UserPrompts::Exclamation));
        QCOMPARE(prompts.shown.at(2).title, QString("Pellucor"));
        QCOMPARE(prompts.shown.at(2).defaultText, QString("eps"));
    }
};

PELLUCOR_REGISTER_TEST(PromptsTest, unit)
#include "tst_prompts.moc"
