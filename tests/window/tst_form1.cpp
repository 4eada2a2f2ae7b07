#include "support/windowfixture.h"

#include "support/layouttable.h"
#include "support/testregistry.h"

#include "filelist/listview.h"
#include "window/captionedprogressbar.h"

#include <QApplication>
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
        for (const ControlPlace &place : MainWindowLayout())
            QTest::newRow(qPrintable(place.name)) << place.name << place.container << place.pixels << place.caption;
    }
    void controlsStandWhereTheLayoutPutsThem()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, pixels);
        QFETCH(QString, caption);
        Form1 form; // as designed, before start-up dresses it
        form.show();
        auto *control = form.findChild<QWidget *>(name);
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
        QCOMPARE(form.size(), QSize(536, 538)); // 8040 by 8070 twips
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(form.windowTitle(), QString("Pellucor"));
        QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
        for (const char *name : {"Frame5", "Frame3", "Option1", "Label2"})
            QCOMPARE(form.findChild<QWidget *>(name)->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form.PushButton2->palette().color(QPalette::Button), QColor(Qt::white));
        QVERIFY(form.findChild<QObject *>("CommonDialog1"));
        // What is painted, not only the palette: the style tints group boxes.
        const QImage shot = form.grab().toImage();
        for (QWidget *control : QList<QWidget *>{form.Frame5, form.Frame1, form.Frame3, form.Option1}) {
            const QPoint inside = control->mapTo(&form, QPoint(control->width() - 8, control->height() - 6));
            QCOMPARE(shot.pixelColor(inside), QColor(Qt::white));
        }
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
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(QApplication::focusWidget(), form.ListView1);
        // Real Tab presses, round the window and back again; both option
        // buttons are stops of their own.
        const QStringList forward{"PushButton1", "PushButton3", "PushButton6", "PushButton7",
                                  "PushButton2", "Slider1",     "PushButton5", "Option2",
                                  "Option1",     "Text1",       "PushButton4", "ListView1"};
        const auto press = [](Qt::Key key) {
            QTest::keyClick(QApplication::focusWidget(), key);
            return QApplication::focusWidget()->objectName();
        };
        QStringList order;
        for (qsizetype i = 0; i < forward.size(); ++i)
            order << press(Qt::Key_Tab);
        QCOMPARE(order, forward);
        order.clear();
        for (qsizetype i = 0; i < forward.size(); ++i)
            order.prepend(press(Qt::Key_Backtab));
        QCOMPARE(order, QStringList{forward.last()} + forward.first(forward.size() - 1));
    }

    void captionsKeepPercentSigns()
    {
        WindowFixture window;
        window.form->SetProgressCaption("Processing: 100%p done.eps");
        QCOMPARE(window.form->ProgressBar1->text(), QString("Processing: 100%p done.eps"));
    }
};

PELLUCOR_REGISTER_TEST(Form1Test, unit)
#include "tst_form1.moc"
