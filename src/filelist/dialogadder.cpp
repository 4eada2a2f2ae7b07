#include "dialogadder.h"

#include "commondialog.h"
#include "listview.h"

#include "common/errorreport.h"
#include "common/userprompts.h"
#include "engine/pathhelpers.h"

void AddFilesByDialog(CommonDialog &dialog, ListView &list)
{
    // A selection too long for the dialog's buffer gets a message of its own
    // pointing to the folder scan, and nothing is added.
    GuardedProcedure add(procedureLocation(QStringLiteral("Form1"), QStringLiteral("PushButton1_Click")),
                         ReportForm::Full, [](const RuntimeError &error) {
                             if (error.number() != RuntimeError::DialogBufferTooSmall)
                                 return false;
                             ShowMessage(QStringLiteral("You've selected too many files to add.\r\r"
                                                        "Please try adding via the \"Add All\" button."));
                             return true;
                         });
    add.step(104, [&] { dialog.FileName.clear(); });
    add.step(108, [&] { dialog.DialogTitle = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"); });
    add.step(110, [&] { dialog.Filter = QStringLiteral("EPS Files (*.eps)|*.eps|"); });
    add.step(112, [&] { dialog.ShowOpen(); });
    if (add.ended() || add.test(114, [&] { return dialog.FileName.isEmpty(); }))
        return;

    QStringList parts;
    add.step(116, [&] { parts = dialog.FileName.split(QChar(0)); });
    const qsizetype n = parts.size() - 1;
    if (add.test(118, [&] { return n == 0; })) {
        QString path;
        add.step(120, [&] { path = parts.value(0); });
        add.step(122, [&] { list.Append(path); });
        return;
    }
    // Several files: the folder first, then the names. Without a
    // folder the files came from several, and each name is a full path.
    for (qsizetype i = 1; i <= n; ++i) {
        QString path;
        add.step(136,
                 [&] { path = parts.at(0).isEmpty() ? parts.at(i) : parts.at(0) + PathSeparator() + parts.at(i); });
        add.step(138, [&] { path = NormalizePath(path); });
        add.step(140, [&] { list.Append(path); });
    }
}
