#pragma once

#include <QMimeData>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

// The file list: an ordered list of entries, each holding one text, the full
// path of an input file, shown in report style under one column. Equal texts
// may repeat; the list neither sorts nor checks what it is given.
class ListView : public QTreeWidget
{
    Q_OBJECT

public:
    // Key codes of the keys the handlers look at.
    static constexpr int KeyBackspace = 8;
    static constexpr int KeyDelete = 46;

    explicit ListView(QWidget *parent = nullptr);

    void Append(const QString &text);
    int Count() const;
    QString Text(int index) const; // 1-based
    void SetText(int index, const QString &text);
    void Remove(int index);
    void Clear();
    // The position of the entry the list reports as selected; 0 for none.
    int SelectedIndex() const;
    void Select(int index);
    // True when some entry's text equals `text`, compared case-sensitively.
    bool ListContains(const QString &text) const;

    // The key code a key event stands for (46 Delete, 8 Backspace, ...).
    static int KeyCodeOf(int qtKey);

    // The local files and folders a drag carries, in its order; empty when
    // it carries no file list.
    static QStringList DroppedPaths(const QMimeData *data);

signals:
    void KeyDown(int keyCode, int shift);
    // A double-click anywhere in the list, on an entry or not.
    void DblClick();
    // A drag over the list; clear `accept` to refuse it.
    void OLEDragOver(const QMimeData *data, bool &accept);
    void OLEDragDrop(const QMimeData *data);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};
