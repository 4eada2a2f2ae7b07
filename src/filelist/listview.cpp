#include "listview.h"

#include "common/platform.h"

#include <QHeaderView>
#include <QDir>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace {

// Where an entry keeps its mark.
constexpr int FidelityRole = Qt::UserRole;

void mark(QTreeWidgetItem &item, FileSystem::NameFidelity fidelity)
{
    const bool faithful = fidelity == FileSystem::NameFidelity::Faithful;
    item.setData(0, FidelityRole, faithful ? QVariant() : QVariant(int(fidelity)));
}

} // namespace

ListView::ListView(QWidget *parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true); // keeps lists of many thousands of entries quick
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Files come in by drops; entries never go out to other programs.
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragEnabled(false);
    setDragDropMode(QAbstractItemView::DropOnly);
    // Pointer moves arrive without a button held too: they reset the pointer.
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    header()->setStretchLastSection(false);
    setColumnCount(0);
    setHeaderLabels({});
}

void ListView::Append(const QString &text, FileSystem::NameFidelity fidelity)
{
    auto *item = new QTreeWidgetItem(QStringList{text});
    mark(*item, fidelity);
    addTopLevelItem(item);
}

int ListView::Count() const
{
    return topLevelItemCount();
}

QString ListView::Text(int index) const
{
    const QTreeWidgetItem *item = topLevelItem(index - 1);
    return item ? item->text(0) : QString();
}

FileSystem::NameFidelity ListView::Fidelity(int index) const
{
    const QTreeWidgetItem *item = topLevelItem(index - 1);
    return item ? FileSystem::NameFidelity(item->data(0, FidelityRole).toInt()) : FileSystem::NameFidelity::Faithful;
}

void ListView::SetText(int index, const QString &text, FileSystem::NameFidelity fidelity)
{
    if (QTreeWidgetItem *item = topLevelItem(index - 1)) {
        item->setText(0, text);
        mark(*item, fidelity);
    }
}

void ListView::Remove(int index)
{
    delete takeTopLevelItem(index - 1);
}

void ListView::Clear()
{
    clear();
}

void ListView::SelectInPlace(int index)
{
    const bool scrolls = hasAutoScroll();
    setAutoScroll(false);
    Select(index);
    setAutoScroll(scrolls);
}

int ListView::SelectedIndex() const
{
    const QList<QTreeWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? 0 : indexOfTopLevelItem(selected.first()) + 1;
}

void ListView::Select(int index)
{
    if (QTreeWidgetItem *item = topLevelItem(index - 1))
        setCurrentItem(item);
}

bool ListView::ListContains(const QString &text) const
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->text(0) == text)
            return true;
    }
    return false;
}

int ListView::KeyCodeOf(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Delete: return KeyDelete;
    case Qt::Key_Backspace: return KeyBackspace;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_Insert: return 45;
    default:
        if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
            return qtKey; // the same codes as upper-case letters and digits
        return 0;
    }
}

void ListView::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int shift = (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0)
                      | (modifiers & Qt::AltModifier ? 4 : 0);
    emit KeyDown(KeyCodeOf(event->key()), shift);
    QTreeWidget::keyPressEvent(event);
}

void ListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    emit DblClick();
}

QStringList ListView::DroppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        // A file manager percent-encodes a name's bytes; those that are not
        // UTF-8 QUrl can only decode to U+FFFD, the text of another name.
        const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (QString::fromUtf8(bytes).toUtf8() == bytes)
            paths.append(QDir::toNativeSeparators(url.toLocalFile()));
        else
            paths.append(QDir::toNativeSeparators((url.host().isEmpty() ? QString() : QStringLiteral("//") + url.host())
                                                  + Platform::TextOfName(bytes)));
    }
    return paths;
}

void ListView::AnswerDragOver(QDropEvent *event)
{
    bool accept = true;
    emit OLEDragOver(event->mimeData(), accept);
    if (accept)
        AnswerCopy(event);
    else
        event->ignore();
}

void ListView::AnswerCopy(QDropEvent *event)
{
    // The list keeps only paths: a source told "move" may delete its files.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ListView::dragEnterEvent(QDragEnterEvent *event)
{
    AnswerDragOver(event);
}

void ListView::dragMoveEvent(QDragMoveEvent *event)
{
    AnswerDragOver(event);
}

void ListView::dropEvent(QDropEvent *event)
{
    AnswerCopy(event);
    emit OLEDragDrop(event->mimeData());
}

int ListView::IndexAt(const QPoint &point) const
{
    const QTreeWidgetItem *item = itemAt(point);
    return item ? indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(item)) + 1 : 0;
}

QPersistentModelIndex ListView::Reference(int index) const
{
    return QPersistentModelIndex(model()->index(index - 1, 0));
}

int ListView::PositionOf(const QPersistentModelIndex &reference)
{
    return reference.isValid() ? reference.row() + 1 : 0;
}

void ListView::ScrollTo(int index)
{
    if (QTreeWidgetItem *item = topLevelItem(index - 1))
        scrollToItem(item, QAbstractItemView::EnsureVisible);
}

void ListView::mousePressEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    emit MouseDown(event->button(), event->modifiers(), point);
    QTreeWidget::mousePressEvent(event);
    if (const int index = IndexAt(point))
        emit ItemClick(index);
}

void ListView::mouseMoveEvent(QMouseEvent *event)
{
    emit MouseMove(event->buttons(), event->modifiers(), event->position().toPoint());
    // With a button held the list's own drag-selecting would fight the moving of entries.
    if (event->buttons() == Qt::NoButton)
        QTreeWidget::mouseMoveEvent(event);
}

void ListView::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeWidget::mouseReleaseEvent(event);
    emit MouseUp(event->button(), event->modifiers(), event->position().toPoint());
}
