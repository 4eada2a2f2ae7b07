#pragma once

#include <QObject>
#include <QString>

// The file-open dialog component: set its properties, show it, read the
// answer from FileName. It always lets several files be chosen, in the
// explorer style with long names. Its name buffer holds MaxFileSize
// characters; an answer that does not fit raises error 20476 from ShowOpen.
class CommonDialog : public QObject
{
    Q_OBJECT

public:
    explicit CommonDialog(QObject *parent = nullptr);

    QString FileName;
    QString DialogTitle;
    QString Filter;
    int MaxFileSize = 30000;

    void ShowOpen();
};
