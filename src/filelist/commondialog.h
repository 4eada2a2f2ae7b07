#pragma once

#include <QObject>
#include <QString>

// The file-open dialog component: set its properties, show it, read the
// answer from FileName. Its name buffer holds MaxFileSize characters; an
// answer that does not fit raises error 20476 from ShowOpen.
class CommonDialog : public QObject
{
    Q_OBJECT

public:
    // Bits of Flags, as the dialog knows them.
    static constexpr int ReadOnly = 0x1;
    static constexpr int AllowMultiselect = 0x200;
    static constexpr int Explorer = 0x80000;
    static constexpr int LongNames = 0x200000;

    explicit CommonDialog(QObject *parent = nullptr);

    QString FileName;
    int Flags = 0;
    QString DialogTitle;
    QString Filter;
    int MaxFileSize = 30000;

    void ShowOpen();
};
