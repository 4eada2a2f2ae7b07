#include "commondialog.h"

#include "common/userprompts.h"

CommonDialog::CommonDialog(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("CommonDialog1"));
}

void CommonDialog::ShowOpen()
{
    FileName = ShowOpenDialog(DialogTitle, Filter, MaxFileSize);
}
