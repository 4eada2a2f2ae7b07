#include "support/testregistry.h"
#include "support/windowfixture.h"

#include <QPushButton>
#include <QTest>

class HelpTest : public QObject
{
    Q_OBJECT

private slots:
    void helpMessage()
    {
        WindowFixture window;
        QTest::mouseClick(window.form->PushButton5, Qt::LeftButton);
        QCOMPARE(window.prompts.messages().size(), 1);
        const auto message = window.prompts.messages().first();
        QCOMPARE(message.text.toUtf8(),
                 QByteArray("To view the quality of the original EPS files, https://viewer.example.com/ can be used."
                            "\r\n\r\n"
                            "Questions? Please contact Team Veltranix at https://www.example.com/contact/"));
        QCOMPARE(message.title, QString("Pellucor"));
        QCOMPARE(message.buttons, int(UserPrompts::OkOnly));
        QCOMPARE(message.icon, int(UserPrompts::NoIcon));
        for (const auto &shown : window.prompts.shown)
            QVERIFY(shown.kind != "web"); // no page is opened
    }
};

PELLUCOR_REGISTER_TEST(HelpTest, unit)
#include "tst_help.moc"
