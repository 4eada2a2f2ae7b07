#pragma once

#include <QString>
#include <QStringList>

// Everything that asks the user something or hands something to the desktop:
// message boxes, the input box, the file-open dialog, the folder picker and
// the opening of a web address or a folder. The window installs dialogs;
// tests install a scripted stand-in that records what was shown.
class UserPrompts
{
public:
    enum Buttons { OkOnly = 0, YesNo = 4 };
    enum Icon { NoIcon = 0, Exclamation = 48 };
    enum Answer { Cancelled = 0, Ok = 1, Yes = 6, No = 7 };

    virtual ~UserPrompts() = default;

    // A modal message box; `title` is never empty here. Returns an Answer.
    virtual int MessageBox(const QString &text, int buttons, int icon, const QString &title) = 0;
    // A modal text prompt; "" when cancelled.
    virtual QString InputBox(const QString &prompt, const QString &title, const QString &defaultText) = 0;
    // A file-open dialog with multiple selection: the chosen files' full
    // paths, all in one folder; empty when cancelled.
    virtual QStringList ChooseFiles(const QString &title, const QString &filter) = 0;
    // A folder picker opened at `startFolder`: the chosen folder, or "".
    virtual QString ChooseFolder(const QString &prompt, const QString &startFolder) = 0;
    virtual void OpenWebAddress(const QString &address) = 0;
    virtual void OpenFolder(const QString &folder) = 0;
};

// The prompts in use. Until some are installed, a silent stand-in answers
// every question with Cancel and writes messages to the error output.
UserPrompts &Prompts();
// Installs `prompts` (not owned; nullptr goes back to the silent stand-in).
void SetPrompts(UserPrompts *prompts);

// The title of every box that names none of its own.
QString ApplicationTitle();
void SetApplicationTitle(const QString &title);

// A message box under the application title unless `title` is given.
int ShowMessage(const QString &text, int buttons = UserPrompts::OkOnly, int icon = UserPrompts::NoIcon,
                const QString &title = {});

// The input box under the application title.
QString ShowInputBox(const QString &prompt, const QString &defaultText);

// The file-open dialog's answer as one text: the full path when one file was
// chosen; the folder, NUL, and the bare names separated by NUL when several
// were; "" on cancel. Several files from different folders give an empty
// folder, NUL, and their full paths separated by NUL. An answer longer than `bufferSize` characters raises
// error 20476, as the dialog's fixed name buffer would.
QString ShowOpenDialog(const QString &title, const QString &filter, int bufferSize);
QString FileDialogAnswer(const QStringList &paths, int bufferSize);
