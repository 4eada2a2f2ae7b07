#pragma once

#include "common/filesystem.h"

#include <QMimeData>
#include <QPersistentModelIndex>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

// The file list: an ordered list of entries, each holding one text, the full
// path of an input file, shown in report style under one column. Equal texts
// may repeat; the list neither sorts nor checks what it is given. An entry
// whose file's name is not valid UTF-8 shows the text that name decodes to
// and carries a mark: that text names another file or none.
class ListView : public QTreeWidget
{
    Q_OBJECT

public:
    // Key codes of the keys the handlers look at.
    static constexpr int KeyBackspace = 8;
    static constexpr int KeyDelete = 46;

    explicit ListView(QWidget *parent = nullptr);

    void Append(const QString &text, FileSystem::NameFidelity fidelity = FileSystem::NameFidelity::Faithful);
    int Count() const;
    QString Text(int index) const; // 1-based
    FileSystem::NameFidelity Fidelity(int index) const;
    void SetText(int index, const QString &text,
                 FileSystem::NameFidelity fidelity = FileSystem::NameFidelity::Faithful);
    void Remove(int index);
    void Clear();
    // The position of the entry the list reports as selected; 0 for none.
    int SelectedIndex() const;
    void Select(int index);
    // Selects without bringing the entry into view.
    void SelectInPlace(int index);
    // True when some entry's text equals `text`, compared case-sensitively.
    bool ListContains(const QString &text) const;
    // The entry under a point of the list's viewport; 0 for none.
    int IndexAt(const QPoint &point) const;
    // A reference to an entry that turns invalid when the entry goes.
    QPersistentModelIndex Reference(int index) const;
    // The position of a referenced entry; 0 when it is gone.
    static int PositionOf(const QPersistentModelIndex &reference);
    // Scrolls so that the entry is visible.
    void ScrollTo(int index);

    // The key code a key event stands for (46 Delete, 8 Backspace, ...).
    static int KeyCodeOf(int qtKey);

    // The local files and folders a drag carries, in its order; empty when
    // it carries no file list. A name whose bytes are not UTF-8 comes as
    // Platform::TextOfName gives it (see Platform::HoldsRawBytes).
    static QStringList DroppedPaths(const QMimeData *data);

signals:
    void KeyDown(int keyCode, int shift);
    // A double-click anywhere in the list, on an entry or not.
    void DblClick();
    // A drag over the list; clear `accept` to refuse it.
    void OLEDragOver(const QMimeData *data, bool &accept);
    void OLEDragDrop(const QMimeData *data);
    // Mouse buttons and moves over the entries; points are in viewport pixels.
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint &point);
    void MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, const QPoint &point);
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint &point);
    // A press on an entry, after the list has selected it.
    void ItemClick(int index);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Drag enter and drag move get the same answer.
    void AnswerDragOver(QDropEvent *event);
    // Accepts a drag or drop as a copy, whatever the source proposed.
    static void AnswerCopy(QDropEvent *event);
};
