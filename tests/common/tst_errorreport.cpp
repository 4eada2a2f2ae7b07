#include "common/errorreport.h"

#include "support/scriptedprompts.h"
#include "support/testregistry.h"

#include <QTest>

namespace {

const QString Location = procedureLocation("Form1", "PushButton2_Click");
const QString Request = QStringLiteral("\r\rPlease email screenshot of this message to support@example.com");

void FailingHelper()
{
    throw RuntimeError(53, "File not found");
}

} // namespace

class ErrorReportTest : public QObject
{
    Q_OBJECT

private slots:
    // What users quote to support: written out here once, for all nine.
    void locationTexts_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<QString>("text");
        for (const char *handler : {"Form_Load", "PushButton1_Click", "PushButton2_Click", "PushButton3_Click",
                                    "PushButton4_Click", "PushButton5_Click", "PushButton6_Click", "PushButton7_Click"})
            QTest::newRow(handler) << "Form1" << handler << QString("in Quorvane2021/08/31.Form1.%1 ").arg(handler);
        QTest::newRow("folder walk") << "AddFolder" << "GetSubDirectories2016"
                                     << "in Harrowmede2021/08/31.AddFolder.GetSubDirectories2016 ";
    }
    void locationTexts()
    {
        QFETCH(QString, module);
        QFETCH(QString, procedure);
        QFETCH(QString, text);
        QCOMPARE(procedureLocation(module, procedure), text);
    }

    void composition_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("form");
        QTest::addColumn<QString>("text");
        QTest::newRow("full") << "File not found" << int(ReportForm::Full)
                              << "File not found\r\n" + Location + "at line 160" + Request;
        QTest::newRow("short") << "Path not found" << int(ReportForm::Short)
                               << "Path not found\r\n" + Location + "at line 160";
        QTest::newRow("empty description")
            << "" << int(ReportForm::Full) << "\r\n" + Location + "at line 160" + Request;
    }
    void composition()
    {
        QFETCH(QString, description);
        QFETCH(int, form);
        QFETCH(QString, text);
        QCOMPARE(ComposeErrorReport(description, Location, 160, ReportForm(form)), text);
    }

    void reportIsAnExclamationBox()
    {
        ScriptedPrompts prompts;
        ReportError(RuntimeError(70, "Permission denied"), Location, 118, ReportForm::Full);
        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown.first().title, QString("Application Error"));
        QCOMPARE(prompts.shown.first().icon, int(UserPrompts::Exclamation));
        QCOMPARE(prompts.shown.first().buttons, int(UserPrompts::OkOnly));
        QCOMPARE(prompts.shown.first().text, "Permission denied\r\n" + Location + "at line 118" + Request);
    }

    void failingStepsAreReportedAndTheProcedureGoesOn()
    {
        ScriptedPrompts prompts;
        QStringList ran;
        GuardedProcedure procedure(Location);
        procedure.step(100, [] { throw RuntimeError(5, "first"); });
        procedure.step(102, [&] { ran << "102"; });
        procedure.step(104, [] { FailingHelper(); }); // reported with the caller's line
        procedure.step(106, [&] { ran << "106"; });
        QCOMPARE(ran, (QStringList{"102", "106"}));
        QCOMPARE(prompts.shown.size(), 2);
        QVERIFY(prompts.shown.at(0).text.startsWith("first\r\n" + Location + "at line 100\r\r"));
        QVERIFY(prompts.shown.at(1).text.startsWith("File not found\r\n" + Location + "at line 104\r\r"));
    }

    void aFailingTestEntersItsBranch()
    {
        ScriptedPrompts prompts;
        GuardedProcedure procedure(Location);
        const bool entered = procedure.test(110, []() -> bool { throw RuntimeError(13, "Type mismatch"); });
        QVERIFY(entered);
        QVERIFY(!procedure.test(112, [] { return false; }));
        QCOMPARE(prompts.shown.size(), 1);
        QVERIFY(prompts.shown.first().text.contains("at line 110"));
    }

    void otherExceptionsAreReportedToo()
    {
        ScriptedPrompts prompts;
        GuardedProcedure procedure(Location);
        procedure.step(130, [] { throw std::runtime_error("odd"); });
        QCOMPARE(prompts.shown.size(), 1);
        QVERIFY(prompts.shown.first().text.startsWith("odd\r\n"));
    }

    void aSpecialCaseEndsTheProcedure()
    {
        ScriptedPrompts prompts;
        QStringList ran;
        GuardedProcedure procedure(procedureLocation("Form1", "PushButton1_Click"), ReportForm::Full,
                                   [](const RuntimeError &error) { return error.number() == 20476; });
        procedure.step(110, [] { throw RuntimeError(5, "ordinary"); });
        procedure.step(111, [&] { ran << "111"; });
        procedure.step(112, [] { throw RuntimeError(20476, "buffer"); });
        procedure.step(114, [&] { ran << "114"; });
        QVERIFY(procedure.ended());
        QCOMPARE(ran, QStringList{"111"});
        QCOMPARE(prompts.shown.size(), 1); // the ordinary error only; the special case showed its own
        QVERIFY(prompts.shown.first().text.startsWith("ordinary\r\n"));
    }

    void shortFormHasNoRequestLine()
    {
        ScriptedPrompts prompts;
        const QString location = procedureLocation("Form1", "PushButton4_Click");
        GuardedProcedure procedure(location, ReportForm::Short);
        procedure.step(100, [] { throw RuntimeError(76, "Path not found"); });
        QCOMPARE(prompts.shown.first().text, "Path not found\r\n" + location + "at line 100");
    }
};

PELLUCOR_REGISTER_TEST(ErrorReportTest, unit)
#include "tst_errorreport.moc"
