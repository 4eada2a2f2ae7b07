#include "common/runtimeerror.h"
#include "common/userprompts.h"

#include "support/scriptedprompts.h"
#include "support/testregistry.h"

#include <QTest>

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
        QTest::newRow("one file is its full path") << QStringList{"/work/x.eps"} << "/work/x.eps";
        QTest::newRow("several: folder, then names")
            << QStringList{"/work/a.eps", "/work/b.eps", "/work/c.eps"}
            << QString("/work") + nul + "a.eps" + nul + "b.eps" + nul + "c.eps";
        QTest::newRow("several at the root") << QStringList{"/a.eps", "/b.eps"}
                                             << QString("/") + nul + "a.eps" + nul + "b.eps";
        QTest::newRow("several from different folders: no folder, full paths")
            << QStringList{"/work/a.eps", "/old/b.eps", "/work/c.eps"}
            << QString() + nul + "/work/a.eps" + nul + "/old/b.eps" + nul + "/work/c.eps";
    }
    void fileDialogAnswer()
    {
        QFETCH(QStringList, paths);
        QFETCH(QString, answer);
        QCOMPARE(FileDialogAnswer(paths, 30000), answer);
    }

    void answerLongerThanTheBufferIsError20476()
    {
        // "/fo" and 2727 names of ten characters, each after a NUL: 3 + 2727 * 11 = 30000.
        const QString folder = "/fo";
        QStringList paths;
        for (int i = 0; i < 2727; ++i)
            paths << folder + QString("/n%1.eps").arg(i, 5, 10, QChar('0'));
        QCOMPARE(FileDialogAnswer(paths, 30000).size(), 30000);
        paths << folder + "/x";
        try {
            FileDialogAnswer(paths, 30000);
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

PELLUCOR_REGISTER_TEST(PromptsTest)
#include "tst_prompts.moc"
