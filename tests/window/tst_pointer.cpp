#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "common/filesystem.h"
#include "filelist/listview.h"
#include "window/captionedprogressbar.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>

namespace {

QPoint CentreOf(ListView &list, int index)
{
    return list.visualItemRect(list.topLevelItem(index - 1)).center();
}

// A pointer move over `widget` with no button held, as the window system sends it.
void Hover(QWidget *widget, QPoint point = {})
{
    if (point.isNull())
        point = widget->rect().center();
    QMouseEvent move(QEvent::MouseMove, point, widget->mapToGlobal(point), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

} // namespace

class PointerTest : public QObject
{
    Q_OBJECT

private slots:
    void movingAnEntryDownTheList()
    {
        WindowFixture window;
        ListView &list = *window.form->ListView1;
        list.Append("A", FileSystem::NameFidelity::UnfaithfulFile); // its mark travels with it
        window.append({"B", "C", "D"});
        QWidget *viewport = list.viewport();
        QTest::mousePress(viewport, Qt::LeftButton, {}, CentreOf(list, 1));
        QCOMPARE(list.SelectedIndex(), 1);
        const QList<QStringList> expected{{"B", "A", "C", "D"}, {"B", "C", "A", "D"}, {"B", "C", "D", "A"}};
        for (int over = 2; over <= 4; ++over) {
            QTest::mouseMove(viewport, CentreOf(list, over));
            QCOMPARE(Entries(list), expected.at(over - 2));
            QCOMPARE(list.SelectedIndex(), over); // A, selected, travels along
            QCOMPARE(list.Text(list.SelectedIndex()), QString("A"));
            QList<int> marks(4, int(FileSystem::NameFidelity::Faithful));
            marks[over - 1] = int(FileSystem::NameFidelity::UnfaithfulFile);
            QCOMPARE(Fidelities(list), marks);
        }
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, CentreOf(list, 4));
        QCOMPARE(viewport->cursor().shape(), Qt::ArrowCursor);
        // Without a button held, moves change nothing.
        QTest::mouseMove(viewport, CentreOf(list, 1));
        QCOMPARE(Entries(list), expected.last());
    }

    void equalTextsExchangeNothing()
    {
        WindowFixture window;
        ListView &list = *window.form->ListView1;
        window.append({"same", "same", "other"});
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 1));
        QTest::mouseMove(list.viewport(), CentreOf(list, 2));
        QCOMPARE(Entries(list), (QStringList{"same", "same", "other"}));
        QCOMPARE(list.SelectedIndex(), 1);
    }

    void aSingleEntryStaysPut()
    {
        WindowFixture window;
        ListView &list = *window.form->ListView1;
        window.append({"only"});
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 1));
        QTest::mouseMove(list.viewport(), CentreOf(list, 1) + QPoint(0, 2));
        QTest::mouseMove(list.viewport(), QPoint(10, list.viewport()->height() - 3));
        QCOMPARE(Entries(list), QStringList{"only"});
    }

    void aMoveAfterClearListDoesNothing()
    {
        WindowFixture window;
        ListView &list = *window.form->ListView1;
        window.append({"A", "B"});
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 1)); // the entry to move: A
        QTest::mouseClick(window.form->PushButton6, Qt::LeftButton);
        window.append({"C", "D"});
        // A press below the entries clicks no entry: the moved entry is still the cleared A.
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, QPoint(10, list.viewport()->height() - 3));
        QTest::mouseMove(list.viewport(), CentreOf(list, 1));
        QTest::mouseMove(list.viewport(), CentreOf(list, 2));
        QCOMPARE(Entries(list), (QStringList{"C", "D"}));
    }

    void pressingBelowTheEntriesMovesTheLastClickedOne()
    {
        WindowFixture window;
        ListView &list = *window.form->ListView1;
        window.append({"A", "B", "C"});
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 3)); // C
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, QPoint(10, list.viewport()->height() - 3));
        QTest::mouseMove(list.viewport(), CentreOf(list, 1));
        QCOMPARE(Entries(list), (QStringList{"C", "B", "A"}));
    }

    void theListScrollsByTheScreenPosition_data()
    {
        QTest::addColumn<int>("screenY");
        QTest::addColumn<int>("scroll"); // -1 up, 0 none, 1 down
        QTest::newRow("304 scrolls up") << 304 << -1;
        QTest::newRow("305 stays") << 305 << 0;
        QTest::newRow("364 stays") << 364 << 0;
        QTest::newRow("365 scrolls down") << 365 << 1;
    }
    void theListScrollsByTheScreenPosition()
    {
        QFETCH(int, screenY);
        QFETCH(int, scroll);
        WindowFixture window;
        ListView &list = *window.form->ListView1;
        for (int i = 1; i <= 60; ++i)
            list.Append(QString("entry %1").arg(i));
        list.ScrollTo(30);
        list.scrollToItem(list.topLevelItem(29), QAbstractItemView::PositionAtCenter);
        QApplication::processEvents();
        const int first = list.IndexAt(QPoint(10, 2));
        const int last = list.IndexAt(QPoint(10, list.viewport()->height() - 2));
        QVERIFY(first > 1 && last < 60);
        QScrollBar *bar = list.verticalScrollBar();

        // Move the top visible entry up one: the entry above it must come into view.
        QCursor::setPos(200, screenY);
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, CentreOf(list, first + 1));
        int before = bar->value();
        QTest::mouseMove(list.viewport(), CentreOf(list, first));
        if (scroll < 0)
            QVERIFY(bar->value() < before);
        else
            QCOMPARE(bar->value(), before);
        QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, CentreOf(list, first));

        // Move the bottom visible entry down one: the entry below it must come into view.
        const int bottom = list.IndexAt(QPoint(10, list.viewport()->height() - 2));
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, CentreOf(list, bottom - 1));
        before = bar->value();
        QTest::mouseMove(list.viewport(), CentreOf(list, bottom));
        if (scroll > 0)
            QVERIFY(bar->value() > before);
        else
            QCOMPARE(bar->value(), before);
    }

    void dragPointerComesFromItsFile()
    {
        QTemporaryDir application;
        WindowFixture window([&](WindowFixture &) { FileSystem::SetApplicationFolder(application.path()); });
        ListView &list = *window.form->ListView1;
        window.append({"A", "B"});
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 1));
        QCOMPARE(list.viewport()->cursor().shape(), Qt::ArrowCursor); // no drag.ico: unchanged
        QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 1));
        QVERIFY(QFile::copy(PELLUCOR_APP_DIR "/drag.ico", application.filePath("drag.ico")));
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 1));
        QCOMPARE(list.viewport()->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(list.viewport()->cursor().pixmap().size(), QSize(32, 32));
        QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 1));
        QCOMPARE(list.viewport()->cursor().shape(), Qt::ArrowCursor);
        WriteBytes(application.filePath("drag.ico"), "broken");
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 2));
        QCOMPARE(list.viewport()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(list.SelectedIndex(), 2);
    }

    void hoverPointers()
    {
        WindowFixture window;
        Form1 &form = *window.form;
        Hover(form.PushButton3);
        QCOMPARE(form.MousePointer(), PointerKind::Custom);
        QCOMPARE(form.cursor().shape(), Qt::BitmapCursor);
        Hover(form.Slider1); // no handler: stays as it was
        Hover(form.ProgressBar1);
        QCOMPARE(form.MousePointer(), PointerKind::Custom);
        for (QWidget *control : QList<QWidget *>{form.Frame5, form.Frame1, form.Frame3, form.Label2, form.Label3,
                                                 form.Option1, form.Option2, form.Text1, &form}) {
            Hover(form.PushButton4);
            QCOMPARE(form.MousePointer(), PointerKind::Custom);
            Hover(control, control == &form ? QPoint(2, 2) : QPoint(2, control->height() - 2));
            QVERIFY2(form.MousePointer() == PointerKind::Default, qPrintable(control->objectName()));
        }
        Hover(form.PushButton1);
        Hover(form.ListView1->viewport());
        QCOMPARE(form.MousePointer(), PointerKind::Default);
    }

    void hoverLeavesTheHourglassDuringAConversion()
    {
        WindowFixture window;
        const QString input = window.input("in/a.eps", "shapes.eps");
        window.prepareRun({input}, window.path("in"));
        bool checked = false;
        QObject::connect(window.form->ProgressBar1, &CaptionedProgressBar::CaptionChanged, [&](const QString &caption) {
            if (!caption.startsWith("Processing"))
                return;
            QTimer::singleShot(0, [&] {
                Hover(window.form->PushButton5);
                Hover(window.form->Frame5, QPoint(2, 60));
                Hover(window.form->ListView1->viewport());
                QCOMPARE(window.form->MousePointer(), PointerKind::Busy);
                checked = true;
            });
        });
        QTest::mouseClick(window.form->PushButton2, Qt::LeftButton);
        QVERIFY(checked);
        QCOMPARE(window.form->MousePointer(), PointerKind::Default);
    }
};

PELLUCOR_REGISTER_TEST(PointerTest, ghostscript)
#include "tst_pointer.moc"
