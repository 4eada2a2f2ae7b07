#include "form1.h"

#include "captionedprogressbar.h"
#include "formlayout.h"
#include "sampleloader.h"
#include "engine/settingsstore.h"
#include "startuphelpers.h"

#include "common/contactaddresses.h"
#include "common/errorreport.h"
#include "common/filesystem.h"
#include "common/logging.h"
#include "common/userprompts.h"
#include "engine/pathhelpers.h"
#include "engine/addfolder.h"
#include "filelist/commondialog.h"
#include "filelist/dialogadder.h"
#include "filelist/dropadder.h"
#include "filelist/listview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QIcon>
#include <QRandomGenerator>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>

namespace {

using FormLayout::Pixels;

// What a control says, for each kind that says something.
void SetCaption(QAbstractButton *button, const QString &caption)
{
    button->setText(caption);
}
void SetCaption(QGroupBox *frame, const QString &caption)
{
    frame->setTitle(caption);
}
void SetCaption(QLabel *label, const QString &caption)
{
    label->setText(caption);
}
void SetCaption(CaptionedProgressBar *bar, const QString &caption)
{
    bar->SetCaption(caption);
}
void SetCaption(QWidget *, const QString &) {}

// Makes the control the layout table names, in its container, where the
// table puts it and with the caption it gives.
template<typename Control>
Control *Place(QWidget *window, const char *name)
{
    const FormLayout::Control *place = FormLayout::Find(name);
    Q_ASSERT(place);
    const QString container = QLatin1String(place->container);
    auto *control = new Control(container == window->objectName() ? window : window->findChild<QWidget *>(container));
    control->setObjectName(QLatin1String(name));
    if (*place->accessibleName)
        control->setAccessibleName(QLatin1String(place->accessibleName));
    control->setGeometry(FormLayout::PixelRect(*place));
    SetCaption(control, QLatin1String(place->caption));
    return control;
}

QFont ArialBold(qreal points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

// Every option button is a tab stop of its own. Qt takes the other buttons
// of an exclusive group out of the tab chain whenever one gets the focus, so
// Tab would never reach Option1 after Option2.
class OptionButton : public QRadioButton
{
public:
    using QRadioButton::QRadioButton;

protected:
    void focusInEvent(QFocusEvent *event) override
    {
        QRadioButton::focusInEvent(event);
        for (QRadioButton *option : parentWidget()->findChildren<QRadioButton *>(Qt::FindDirectChildrenOnly))
            option->setFocusPolicy(Qt::StrongFocus);
    }
};

// Sets an option from the store. Qt will not clear the selected button of an
// exclusive group, but a store holding False for both options means neither.
void RestoreOption(QRadioButton *option, bool selected)
{
    if (selected) {
        option->setChecked(true); // clears the other one
        return;
    }
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

// Frames are white like the window (or take the skin's colour), but the
// style tints a group box's inside. This draws the style's outline in its
// place (below the title, 4 pixels down without one) and leaves the inside.
class FrameStyle : public QProxyStyle
{
public:
    explicit FrameStyle(QObject *owner) : QProxyStyle(QApplication::style()->name()) { setParent(owner); }

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element != PE_FrameGroupBox) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const auto *frame = qobject_cast<const QGroupBox *>(widget);
        const int title = frame && (frame->isCheckable() || !frame->title().isEmpty())
                              ? qMax(pixelMetric(PM_ExclusiveIndicatorHeight, option, widget),
                                     option->fontMetrics.height())
                              : 0;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QColor(0x75, 0x75, 0x75, 51)); // the style's own faint grey line
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, title + 4.5, -0.5, -0.5), 2, 2);
        painter->restore();
    }
};

} // namespace

namespace {

const QString ProductName = QStringLiteral("Pellucor");

} // namespace

Form1::Form1(QWidget *parent)
    : QWidget(parent), m_startUpNumber([] { return QRandomGenerator::global()->bounded(1, 101); })
{
    CreateControls();
}

void Form1::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    GuardedProcedure load(procedureLocation(QStringLiteral("Form1"), QStringLiteral("Form_Load")));
    const QString application = FileSystem::ApplicationFolder();
    const QChar separator = PathSeparator();

    load.step(100, [&] { ApplySkin(); });
    bool hasHand = false;
    load.step(102, [&] { hasHand = FileExists(application + separator + QStringLiteral("HAND-M.CUR")); });
    if (load.test(102, [&] { return hasHand; }))
        load.step(104, [&] { SetMouseIcon(LoadPointerFile(application + separator + QStringLiteral("HAND-M.CUR"))); });
    else
        qCDebug(lcWindow) << "no hand pointer in" << application << "- buttons keep the arrow";
    load.step(106, [&] {
        if (m_startUpNumber() == 7)
            Prompts().OpenWebAddress(QLatin1String(ContactAddresses::HomePage));
    });
    load.step(126, [&] { setWindowTitle(ProductName); });
    load.step(126, [&] { setWindowIcon(QIcon(QStringLiteral(":/pellucor.png"))); });
    load.step(126, [&] { SetApplicationTitle(ShortenTitle(ProductName)); });
    load.step(128, [&] { ListView1->setHeaderLabels({QStringLiteral("EPS File(s)")}); });
    load.step(130, [&] { ListView1->setColumnWidth(0, Pixels(7000)); });
    load.step(132, [&] { Text1->setText(SettingsStore::ReadSetting(SettingsStore::OutputFolder)); });
    load.step(134, [&] {
        Slider1->setValue(SettingsStore::ToQuality(SettingsStore::ReadSetting(SettingsStore::JPGQuality)));
    });
    load.step(136, [&] { showQuality(); });
    load.step(138, [&] {
        RestoreOption(Option1, SettingsStore::ToBoolean(SettingsStore::ReadSetting(SettingsStore::Option1)));
    });
    load.step(140, [&] {
        RestoreOption(Option2, SettingsStore::ToBoolean(SettingsStore::ReadSetting(SettingsStore::Option2)));
    });
    if (load.test(142, [&] { return Option1->isChecked(); }))
        load.step(144, [&] { Frame1->setEnabled(true); });
    else
        load.step(146, [&] { Frame1->setEnabled(false); });

    // Connected only now: restoring a control is no change of the user's to store.
    ConnectHandlers();
}

void Form1::ApplySkin()
{
    const QString skin = FileSystem::ApplicationFolder() + PathSeparator() + QStringLiteral("x") + PathSeparator()
                         + QStringLiteral("o.cjs");
    if (!FileSystem::PlainFileExists(skin))
        return;
    const QColor buttonFace = palette().color(QPalette::Button);
    const auto paint = [&](QWidget *widget) {
        QPalette colours = widget->palette();
        colours.setColor(QPalette::Window, buttonFace);
        widget->setPalette(colours);
        widget->setAutoFillBackground(true);
    };
    paint(this);
    for (QWidget *control : findChildren<QWidget *>()) {
        if (qobject_cast<QRadioButton *>(control) || qobject_cast<QCheckBox *>(control)
            || qobject_cast<QGroupBox *>(control) || qobject_cast<QLabel *>(control))
            paint(control);
    }
    // The skin itself is a style sheet, applied over those colours.
    QFile file(skin);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(RuntimeError::PermissionDenied, QStringLiteral("The skin cannot be read: ") + skin);
    setStyleSheet(QString::fromUtf8(file.readAll()));
}

void Form1::CreateControls()
{
    setObjectName(QStringLiteral("Form1"));
    // A fixed frame without a maximise box: the layout is drawn for one size.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(FormLayout::WindowPixels());
    setFont(ArialBold(9));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    PushButton5 = Place<QPushButton>(this, "PushButton5");
    ListView1 = Place<ListView>(this, "ListView1");
    ListView1->setFont(ArialBold(9));
    ListView1->setToolTip(QStringLiteral("Drag and drop files here. Double-click item to remove it. "
                                         "Move | line to right and out of window to reveal full names."));
    PushButton1 = Place<QPushButton>(this, "PushButton1");
    PushButton3 = Place<QPushButton>(this, "PushButton3");
    PushButton6 = Place<QPushButton>(this, "PushButton6");
    PushButton7 = Place<QPushButton>(this, "PushButton7");
    CreateOptionControls();
    CreateQualityControls();
    PushButton2 = Place<QPushButton>(this, "PushButton2");
    ProgressBar1 = Place<CaptionedProgressBar>(this, "ProgressBar1");
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
    auto *frameStyle = new FrameStyle(this);
    for (QGroupBox *frame : {Frame5, Frame1, Frame3})
        frame->setStyle(frameStyle);

    CommonDialog1 = new CommonDialog(this);
    CommonDialog1->MaxFileSize = 30000;
    SkinFramework1 = new QObject(this);
    SkinFramework1->setObjectName(QStringLiteral("SkinFramework1"));

    // Push buttons: their own larger font, button-text colour on white.
    for (QPushButton *button :
         {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6, PushButton7}) {
        button->setFont(ArialBold(11.25));
        QPalette colours = button->palette();
        colours.setColor(QPalette::Button, Qt::white);
        button->setPalette(colours);
    }

    // The keyboard's order through the controls; the list comes first.
    const QList<QWidget *> tabOrder{ListView1,   ProgressBar1, PushButton1, PushButton3, PushButton6,
                                    PushButton7, PushButton2,  Slider1,     PushButton5, Option2,
                                    Option1,     Text1,        PushButton4};
    for (qsizetype i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder.at(i), tabOrder.at(i + 1));
    ListView1->setFocus();
}

void Form1::CreateOptionControls()
{
    Frame5 = Place<QGroupBox>(this, "Frame5");
    Option1 = Place<OptionButton>(this, "Option1");
    Option1->setChecked(true);
    Frame1 = Place<QGroupBox>(this, "Frame1");
    Text1 = Place<QLineEdit>(this, "Text1");
    PushButton4 = Place<QPushButton>(this, "PushButton4");
    Option2 = Place<OptionButton>(this, "Option2");
}

void Form1::CreateQualityControls()
{
    Frame3 = Place<QGroupBox>(this, "Frame3");
    Label2 = Place<QLabel>(this, "Label2");
    Slider1 = Place<QSlider>(this, "Slider1");
    Slider1->setOrientation(Qt::Horizontal);
    Slider1->setRange(0, 100);
    Slider1->setSingleStep(1);
    Slider1->setPageStep(5);
    Slider1->setTracking(false); // a change is the position the thumb is let go at
    Label3 = Place<QLabel>(this, "Label3");
}

void Form1::ConnectHandlers()
{
    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    connect(ListView1, &ListView::OLEDragOver, this, &Form1::ListView1_OLEDragOver);
    connect(ListView1, &ListView::OLEDragDrop, this, &Form1::ListView1_OLEDragDrop);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(ListView1, &ListView::ItemClick, this, &Form1::ListView1_ItemClick);
    connect(ListView1, &ListView::MouseDown, this, &Form1::ListView1_MouseDown);
    connect(ListView1, &ListView::MouseMove, this,
            [this](Qt::MouseButtons, Qt::KeyboardModifiers, const QPoint &point) { ListView1_MouseMove(point); });
    connect(ListView1, &ListView::MouseUp, this, &Form1::ListView1_MouseUp);

    // Pointer moves over the controls with a hover handler; the slider and
    // the progress bar have none.
    for (QWidget *control :
         QList<QWidget *>{this, PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6,
                          PushButton7, Frame1, Frame3, Frame5, Label2, Label3, Option1, Option2, Text1}) {
        control->setMouseTracking(true);
        control->installEventFilter(this);
    }
    connect(Option1, &QRadioButton::clicked, this, &Form1::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &Form1::Option2_Click);
    connect(Slider1, &QSlider::valueChanged, this, &Form1::Slider1_Change);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(ListView1, &ListView::KeyDown, this, &Form1::ListView1_KeyDown);
    connect(ListView1, &ListView::DblClick, this, &Form1::ListView1_DblClick);
}

void Form1::SetMousePointer(PointerKind kind)
{
    m_mousePointer = kind;
    switch (kind) {
    case PointerKind::Default: unsetCursor(); break;
    case PointerKind::Arrow: setCursor(Qt::ArrowCursor); break;
    case PointerKind::Busy: setCursor(Qt::WaitCursor); break;
    case PointerKind::Custom:
        if (m_hasMouseIcon)
            setCursor(m_mouseIcon);
        else
            unsetCursor();
        break;
    }
}

void Form1::SetMouseIcon(const QCursor &cursor)
{
    m_mouseIcon = cursor;
    m_hasMouseIcon = true;
}

void Form1::PushButton1_Click()
{
    AddFilesByDialog(*CommonDialog1, *ListView1);
}

void Form1::PushButton2_Click()
{
    m_conversion.PushButton2_Click(*this);
}

void Form1::PushButton3_Click()
{
    GuardedProcedure scan(procedureLocation(QStringLiteral("Form1"), QStringLiteral("PushButton3_Click")));
    const QChar separator = PathSeparator();
    QString extension;
    scan.step(100, [&] {
        extension =
            ShowInputBox(QStringLiteral("Enter file extension to load:\r\r"
                                        "(* for all files, txt for all txt files, doc for all doc files, etc.)"),
                         SettingsStore::ReadSetting(SettingsStore::Extension));
        if (!extension.isEmpty())
            SettingsStore::WriteSetting(SettingsStore::Extension, extension);
    });
    if (scan.test(102, [&] { return extension.isEmpty(); }))
        return;
    QString lastFolder;
    QString chosen;
    scan.step(104, [&] {
        lastFolder = SettingsStore::ReadSetting(SettingsStore::LastFolder);
        chosen = AddFolder::BrowseForFolder(qintptr(winId()), QStringLiteral("Please select folder:"), lastFolder);
    });
    if (scan.test(106, [&] { return chosen.isEmpty(); }))
        return;
    scan.step(333, [&] { lastFolder = chosen; });
    scan.step(334, [&] { SettingsStore::WriteSetting(SettingsStore::LastFolder, lastFolder); });

    const PointerKind found = m_mousePointer; // a run's hourglass stays after the scan
    scan.step(112, [&] { SetMousePointer(PointerKind::Busy); });
    QStringList folders;
    QStringList unsearched; // folders whose names are not valid UTF-8
    scan.step(114, [&] { folders = {chosen + separator}; });
    scan.step(116, [&] { AddFolder::GetSubDirectories2016(folders, true, [this] { return m_closing; }, &unsearched); });
    if (m_closing) // the program ends: nothing more of this click
        return;
    for (QString folder : folders) {
        scan.step(120, [&] { folder.chop(1); });
        AddFolder::FileNameArray names;
        scan.step(122, [&] { names = AddFolder::ListFilesInFolder(folder, QStringLiteral("*.") + extension); });
        for (int i = 1; i <= names.UBound(); ++i) {
            if (scan.test(126, [&] { return names[i].startsWith(u'~'); }))
                continue;
            QString path;
            scan.step(128, [&] { path = folder + separator + names[i]; });
            scan.step(132, [&] {
                // An existing file, not a hidden archive file; marked when its name is not faithful.
                if (const auto listed = AddFolder::ListedFile(path, names.Entry(i)))
                    ListView1->Append(listed->path, listed->fidelity);
            });
        }
    }
    // Said, not skipped: a folder that could not be searched for its name.
    for (const QString &folder : std::as_const(unsearched))
        scan.step(135, [&] { ListView1->Append(folder, FileSystem::NameFidelity::UnfaithfulFolder); });
    scan.step(136, [&] { SetMousePointer(found == PointerKind::Busy ? found : PointerKind::Default); });
}

void Form1::PushButton4_Click()
{
    GuardedProcedure browse(procedureLocation(QStringLiteral("Form1"), QStringLiteral("PushButton4_Click")),
                            ReportForm::Short);
    QString last;
    QString chosen;
    browse.step(100, [&] { last = SettingsStore::ReadSetting(SettingsStore::LastFolderDot); });
    browse.step(100, [&] {
        chosen = AddFolder::BrowseForFolder(qintptr(winId()), QStringLiteral("Please select folder:"), last);
    });
    if (browse.test(102, [&] { return chosen.isEmpty(); }))
        return;
    browse.step(104, [&] { SettingsStore::WriteSetting(SettingsStore::LastFolderDot, chosen); });
    // Setting the text writes "Output Folder" through its change handler.
    if (browse.test(106, [&] { return !chosen.endsWith(PathSeparator()); }))
        browse.step(108, [&] { Text1->setText(chosen + PathSeparator()); });
    else
        browse.step(110, [&] { Text1->setText(chosen); });
}

void Form1::Option1_Click()
{
    WriteOptions();
}

void Form1::Option2_Click()
{
    WriteOptions();
}

void Form1::WriteOptions()
{
    SettingsStore::WriteSetting(SettingsStore::Option1, SettingsStore::FromBoolean(Option1->isChecked()));
    SettingsStore::WriteSetting(SettingsStore::Option2, SettingsStore::FromBoolean(Option2->isChecked()));
    Frame1->setEnabled(Option1->isChecked());
}

void Form1::Slider1_Change()
{
    showQuality();
    SettingsStore::WriteSetting(SettingsStore::JPGQuality, QString::number(Slider1->value()));
}

void Form1::Text1_Change()
{
    SettingsStore::WriteSetting(SettingsStore::OutputFolder, Text1->text());
}

void Form1::PushButton5_Click()
{
    GuardedProcedure help(procedureLocation(QStringLiteral("Form1"), QStringLiteral("PushButton5_Click")));
    help.step(100, [] { ShowMessage(HelpText()); });
}

QString Form1::HelpText()
{
    return QStringLiteral("To view the quality of the original EPS files, ")
           + QLatin1String(ContactAddresses::EpsViewerSite) + QStringLiteral(" can be used.\r\n\r\n")
           + QStringLiteral("Questions? Please contact Team Veltranix at ")
           + QLatin1String(ContactAddresses::ContactPage);
}

void Form1::PushButton6_Click()
{
    GuardedProcedure clear(procedureLocation(QStringLiteral("Form1"), QStringLiteral("PushButton6_Click")));
    clear.step(100, [&] {
        if (!ListLocked())
            ListView1->Clear();
    });
}

void Form1::PushButton7_Click()
{
    GuardedProcedure samples(procedureLocation(QStringLiteral("Form1"), QStringLiteral("PushButton7_Click")));
    samples.step(100, [&] { LoadSamples(*ListView1); });
}

void Form1::ListView1_OLEDragOver(const QMimeData *dropped, bool &accept)
{
    if (ListView::DroppedPaths(dropped).isEmpty())
        accept = false;
}

void Form1::ListView1_OLEDragDrop(const QMimeData *dropped)
{
    AppendDroppedPaths(*ListView1, ListView::DroppedPaths(dropped), [this] { return m_closing; });
}

void Form1::addStartPaths(const QStringList &paths)
{
    // A drop names full paths; a command line may name them from the current folder.
    QStringList absolute;
    for (const QString &path : paths)
        absolute << QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    AppendDroppedPaths(*ListView1, absolute, [this] { return m_closing; });
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        auto *control = static_cast<QWidget *>(watched);
        // A move a child did not take comes up to its container: only the
        // control the pointer is really over answers.
        const QPoint point = static_cast<QMouseEvent *>(event)->position().toPoint();
        if (!control->childAt(point)) {
            if (qobject_cast<QPushButton *>(control))
                PushButton_MouseMove();
            else
                Background_MouseMove();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::PushButton_MouseMove()
{
    if (m_mousePointer != PointerKind::Busy)
        SetMousePointer(PointerKind::Custom);
}

void Form1::Background_MouseMove()
{
    if (m_mousePointer != PointerKind::Busy)
        SetMousePointer(PointerKind::Default);
}

void Form1::ListView1_ItemClick(int index)
{
    Q_UNUSED(index);
    // The drag pointer is read afresh at every click; an unreadable one leaves the pointer as it is.
    const QString dragIcon = FileSystem::ApplicationFolder() + PathSeparator() + QStringLiteral("drag.ico");
    try {
        ListView1->viewport()->setCursor(LoadPointerFile(dragIcon));
    } catch (const RuntimeError &error) {
        qCDebug(lcWindow) << "drag pointer left as it is:" << error.description();
    }
    ListView1->setDragEnabled(false); // entries move only within the list, never out as drag data
    m_dragItem = ListView1->Reference(ListView1->SelectedIndex());
}

void Form1::ListView1_MouseDown()
{
    m_listButtonDown = true;
}

void Form1::ListView1_MouseUp()
{
    m_listButtonDown = false;
    ListView1->viewport()->setCursor(Qt::ArrowCursor);
}

void Form1::ListView1_MouseMove(const QPoint &point)
{
    Background_MouseMove();
    if (!m_listButtonDown)
        return;
    const int hit = ListView1->IndexAt(point);
    const int drag = ListView::PositionOf(m_dragItem);
    if (hit == 0 || drag == 0)
        return;
    if (ListView1->Text(hit) == ListView1->Text(drag)) // still over the moved entry
        return;
    const QString moved = ListView1->Text(drag);
    const FileSystem::NameFidelity movedFidelity = ListView1->Fidelity(drag); // the mark goes with its text
    ListView1->SetText(drag, ListView1->Text(hit), ListView1->Fidelity(hit));
    ListView1->SetText(hit, moved, movedFidelity);
    ListView1->SelectInPlace(hit); // only the screen position decides about scrolling
    m_dragItem = ListView1->Reference(hit);
    // Near the top or the bottom of the screen the list scrolls on by one entry.
    const int screenY = QCursor::pos().y();
    if (screenY < 305 && hit > 1)
        ListView1->ScrollTo(hit - 1);
    else if (screenY >= 365 && hit < ListView1->Count())
        ListView1->ScrollTo(hit + 1);
}

void Form1::ListView1_KeyDown(int keyCode, int shift)
{
    Q_UNUSED(shift); // Shift+Delete and Ctrl+Delete remove an entry as well
    if (keyCode == ListView::KeyDelete)
        removeSelectedEntry();
}

void Form1::ListView1_DblClick()
{
    removeSelectedEntry();
}

void Form1::removeSelectedEntry()
{
    if (!ListLocked() && ListView1->Count() > 0) {
        if (const int selected = ListView1->SelectedIndex())
            ListView1->Remove(selected);
    }
}

void Form1::showQuality()
{
    Frame3->setTitle(QStringLiteral("JPG Quality = ") + QString::number(Slider1->value()));
}

int Form1::EntryCount() const
{
    return ListView1->Count();
}

QString Form1::EntryText(int index) const
{
    return ListView1->Text(index);
}

FileSystem::NameFidelity Form1::EntryFidelity(int index) const
{
    return ListView1->Fidelity(index);
}

bool Form1::ChosenFolderSelected() const
{
    return Option1->isChecked();
}

bool Form1::InputFolderSelected() const
{
    return Option2->isChecked();
}

QString Form1::OutputFolderText() const
{
    return Text1->text();
}

int Form1::QualityValue() const
{
    return Slider1->value();
}

void Form1::SetProgressValue(int value)
{
    ProgressBar1->setValue(value);
}

QString Form1::ProgressCaption() const
{
    return ProgressBar1->Caption();
}

void Form1::SetProgressCaption(const QString &caption)
{
    ProgressBar1->SetCaption(caption);
}

void Form1::showEvent(QShowEvent *event)
{
    if (!m_shownOnce) {
        m_shownOnce = true;
        if (const QScreen *where = screen())
            move(where->availableGeometry().center() - rect().center());
    }
    QWidget::showEvent(event);
}

void Form1::closeEvent(QCloseEvent *event)
{
    // Closing ends the program at once, even in the middle of a run.
    m_closing = true;
    QWidget::closeEvent(event);
}
