#include "support/windowfixture.h"

#include "support/testregistry.h"

#include "filelist/listview.h"
#include "window/captionedprogressbar.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

class Form1Test : public QObject
{
    Q_OBJECT

private slots:
    void controlsStandWhereTheLayoutPutsThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("pixels");
        QTest::addColumn<QString>("caption");
        // Twips divided by 15, rounded: the window is drawn for 96 dots per inch.
        QTest::newRow("PushButton5") << "PushButton5" << "Form1" << QRect(8, 8, 520, 27) << "Help";
        QTest::newRow("ListView1") << "ListView1" << "Form1" << QRect(8, 42, 520, 169) << "";
        QTest::newRow("PushButton1") << "PushButton1" << "Form1" << QRect(8, 217, 256, 27) << "Add EPS File(s)";
        QTest::newRow("PushButton3") << "PushButton3" << "Form1" << QRect(272, 217, 256, 27)
                                     << "Add All EPS File(s) In Folder";
        QTest::newRow("PushButton6") << "PushButton6" << "Form1" << QRect(8, 251, 256, 27) << "Clear List";
        QTest::newRow("PushButton7") << "PushButton7" << "Form1" << QRect(272, 251, 256, 27)
                                     << "Load Sample/Example Files";
        QTest::newRow("Frame5") << "Frame5" << "Form1" << QRect(8, 282, 520, 121) << "Save Option";
        QTest::newRow("Option1") << "Option1" << "Frame5" << QRect(16, 20, 241, 17) << "Save results to this folder:";
        QTest::newRow("Frame1") << "Frame1" << "Frame5" << QRect(32, 34, 456, 54) << "";
        QTest::newRow("Text1") << "Text1" << "Frame1" << QRect(16, 20, 378, 23) << "";
        QTest::newRow("PushButton4") << "PushButton4" << "Frame1" << QRect(400, 20, 40, 23) << "...";
        QTest::newRow("Option2") << "Option2" << "Frame5" << QRect(16, 94, 241, 17)
                                 << "Save results in folder of original file";
        QTest::newRow("Frame3") << "Frame3" << "Form1" << QRect(8, 408, 520, 53) << "JPG Quality";
        QTest::newRow("Label2") << "Label2" << "Frame3" << QRect(16, 20, 25, 13) << "Min.";
        QTest::newRow("Slider1") << "Slider1" << "Frame3" << QRect(38, 20, 437, 21) << "";
        QTest::newRow("Label3") << "Label3" << "Frame3" << QRect(478, 20, 27, 15) << "Max.";
        QTest::newRow("PushButton2") << "PushButton2" << "Form1" << QRect(8, 469, 520, 27) << "Start Converting To JPG";
        QTest::newRow("ProgressBar1") << "ProgressBar1" << "Form1" << QRect(8, 503, 520, 27) << "Progress Bar";
    }
    void controlsStandWhereTheLayoutPutsThem()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, pixels);
        QFETCH(QString, caption);
        WindowFixture window;
        auto *control = window.form->findChild<QWidget *>(name);
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(control->parentWidget()->objectName(), container);
        QCOMPARE(control->geometry(), pixels);
        QVERIFY(control->isVisible());
        QString text;
        if (auto *button = qobject_cast<QAbstractButton *>(control))
            text = button->text();
        else if (auto *frame = qobject_cast<QGroupBox *>(control))
            text = frame->title();
        else if (auto *label = qobject_cast<QLabel *>(control))
            text = label->text();
        else if (auto *bar = qobject_cast<CaptionedProgressBar *>(control))
            text = bar->text();
        QCOMPARE(text, caption);
    }

    void windowIsFixedWhiteAndTitled()
    {
        WindowFixture window;
        Form1 &form = *window.form;
        QCOMPARE(form.size(), QSize(536, 538));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(form.windowTitle(), QString("Pellucor"));
        QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
        for (const char *name : {"Frame5", "Frame3", "Option1", "Label2"})
            QCOMPARE(form.findChild<QWidget *>(name)->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form.PushButton2->palette().color(QPalette::Button), QColor(Qt::white));
        QVERIFY(form.findChild<QObject *>("CommonDialog1"));
    }

    void fonts()
    {
        WindowFixture window;
        Form1 &form = *window.form;
        QCOMPARE(form.font().family(), QString("Arial"));
        QCOMPARE(form.font().pointSizeF(), 9.0);
        QVERIFY(form.font().bold());
        for (QPushButton *button : form.findChildren<QPushButton *>()) {
            QCOMPARE(button->font().pointSizeF(), 11.25);
            QVERIFY(button->font().bold());
        }
        QCOMPARE(form.ListView1->font().pointSizeF(), 9.0);
        QCOMPARE(form.Option1->font().pointSizeF(), 9.0);
    }

    void listHasOneColumnAndItsTip()
    {
        WindowFixture window;
        ListView *list = window.form->ListView1;
        QCOMPARE(list->columnCount(), 1);
        QCOMPARE(list->headerItem()->text(0), QString("EPS File(s)"));
        QCOMPARE(list->columnWidth(0), 467);
        QCOMPARE(list->toolTip(), QString("Drag and drop files here. Double-click item to remove it. "
                                          "Move | line to right and out of window to reveal full names."));
        QCOMPARE(list->header()->sectionResizeMode(0), QHeaderView::Interactive);
    }

    void slidersAndOptionsAsDesigned()
    {
        WindowFixture window;
        QSlider *slider = window.form->Slider1;
        QCOMPARE(slider->orientation(), Qt::Horizontal);
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 100);
        QCOMPARE(slider->singleStep(), 1);
        QCOMPARE(slider->pageStep(), 5);
        QVERIFY(window.form->Option1->isChecked());
        QVERIFY(!window.form->Option2->isChecked());
        QCOMPARE(window.form->ProgressBar1->minimum(), 0);
        QCOMPARE(window.form->ProgressBar1->maximum(), 100);
    }

    void tabOrderStartsInTheList()
    {
        WindowFixture window;
        Form1 &form = *window.form;
        form.activateWindow();
        form.ListView1->setFocus();
        QStringList order;
        QWidget *widget = form.ListView1;
        for (int i = 0; i < 12; ++i) {
            order << widget->objectName();
            do
                widget = widget->nextInFocusChain();
            while (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isVisible());
        }
        QCOMPARE(order, (QStringList{"ListView1", "PushButton1", "PushButton3", "PushButton6", "PushButton7",
                                     "PushButton2", "Slider1", "PushButton5", "Option2", "Option1", "Text1",
                                     "PushButton4"}));
    }

    void captionsKeepPercentSigns()
    {
        WindowFixture window;
        window.form->SetProgressCaption("Processing: 100%p done.eps");
        QCOMPARE(window.form->ProgressBar1->text(), QString("Processing: 100%p done.eps"));
    }
};

PELLUCOR_REGISTER_TEST(Form1Test)
#include "tst_form1.moc"
