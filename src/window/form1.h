#pragma once

#include "common/pointerkind.h"
#include "window/conversionrun.h"

#include <QCursor>
#include <QPersistentModelIndex>
#include <QWidget>

#include <functional>

class CaptionedProgressBar;
class CommonDialog;
class ListView;
class QMimeData;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

// The program's one window. Its controls, handlers and properties keep the
// numbered names the program's behaviour is described by (PushButton2,
// PushButton2_Click, MousePointer), so that the location in an error report
// and a numbered step lead straight to the code; they are the controls'
// object names too, for tests. Screen readers announce each control by what
// it says on screen (see formlayout.h). New code uses Qt's naming
// (addStartPaths, setJobTimeLimit).
class Form1 : public QWidget, public ConversionView
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);

    // The pointer kind of the whole window; Busy is the busy marker.
    PointerKind MousePointer() const override { return m_mousePointer; }
    void SetMousePointer(PointerKind kind) override;
    // The image shown for PointerKind::Custom.
    void SetMouseIcon(const QCursor &cursor);

    ConversionRun &Conversion() { return m_conversion; }

    // The number from 1 to 100 drawn at start-up; seven opens the maker's home page.
    void SetStartUpNumberSource(std::function<int()> source) { m_startUpNumber = std::move(source); }

    // Dresses the window and restores the saved choices; run once, before it is shown.
    void Form_Load();
    // Adds paths named when the program started, as a drop of them would.
    void addStartPaths(const QStringList &paths);

    // Handlers, named after their control and event.
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton4_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton7_Click();
    void ListView1_KeyDown(int keyCode, int shift);
    void ListView1_DblClick();
    void ListView1_OLEDragOver(const QMimeData *dropped, bool &accept);
    void ListView1_OLEDragDrop(const QMimeData *dropped);
    void ListView1_ItemClick(int index);
    void ListView1_MouseDown();
    void ListView1_MouseMove(const QPoint &point);
    void ListView1_MouseUp();
    // The pointer over a push button (PushButton1_MouseMove ... PushButton7_MouseMove).
    void PushButton_MouseMove();
    // The pointer over the background, a frame, label, option button or the folder box.
    void Background_MouseMove();

    // The text of the Help button's message.
    static QString HelpText();
    void Option1_Click();
    void Option2_Click();
    void Slider1_Change();
    void Text1_Change();

    // What the conversion run reads and shows.
    int EntryCount() const override;
    QString EntryText(int index) const override;
    FileSystem::NameFidelity EntryFidelity(int index) const override;
    bool ChosenFolderSelected() const override;
    bool InputFolderSelected() const override;
    QString OutputFolderText() const override;
    int QualityValue() const override;
    void SetProgressValue(int value) override;
    QString ProgressCaption() const override;
    void SetProgressCaption(const QString &caption) override;
    bool Closing() const override { return m_closing; }

    QPushButton *PushButton1;          // "Add EPS File(s)"
    QPushButton *PushButton2;          // "Start Converting To JPG"
    QPushButton *PushButton3;          // "Add All EPS File(s) In Folder"
    QPushButton *PushButton4;          // "...", picks the output folder
    QPushButton *PushButton5;          // "Help"
    QPushButton *PushButton6;          // "Clear List"
    QPushButton *PushButton7;          // "Load Sample/Example Files"
    ListView *ListView1;               // the input files, column "EPS File(s)"
    QGroupBox *Frame5;                 // "Save Option"
    QRadioButton *Option1;             // "Save results to this folder:"
    QGroupBox *Frame1;                 // around the output folder box and PushButton4
    QLineEdit *Text1;                  // the output folder
    QRadioButton *Option2;             // "Save results in folder of original file"
    QGroupBox *Frame3;                 // "JPG Quality = N"
    QLabel *Label2;                    // "Min."
    QSlider *Slider1;                  // the JPEG quality, 0 to 100
    QLabel *Label3;                    // "Max."
    CaptionedProgressBar *ProgressBar1; // "Progress Bar", then "Processing: <name>"
    CommonDialog *CommonDialog1;       // the file dialog of PushButton1
    QObject *SkinFramework1;           // applies the optional skin x/o.cjs

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateControls();
    void CreateOptionControls();
    void CreateQualityControls();
    void ConnectHandlers();
    void ApplySkin();
    void WriteOptions();
    // While a run walks the list or the pointer shows the hourglass, entries
    // cannot be removed.
    bool ListLocked() const { return m_conversion.IsBusy() || m_mousePointer == PointerKind::Busy; }
    // Removes the selected entry, unless the list is locked: Delete and double-click.
    void removeSelectedEntry();
    // "JPG Quality = N" above the slider.
    void showQuality();

    ConversionRun m_conversion;
    PointerKind m_mousePointer = PointerKind::Default;
    QCursor m_mouseIcon;
    bool m_hasMouseIcon = false;
    bool m_closing = false;
    bool m_shownOnce = false;
    bool m_loaded = false;
    bool m_listButtonDown = false;
    QPersistentModelIndex m_dragItem; // the entry being moved; invalid once it is gone
    std::function<int()> m_startUpNumber;
};
