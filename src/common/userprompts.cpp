#include "userprompts.h"

#include "runtimeerror.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {

class SilentPrompts final : public UserPrompts
{
public:
    int MessageBox(const QString &text, int, int, const QString &title) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        return Cancelled;
    }
    QString InputBox(const QString &, const QString &, const QString &) override { return {}; }
    QStringList ChooseFiles(const QString &, const QString &) override { return {}; }
    QString ChooseFolder(const QString &, const QString &) override { return {}; }
    void OpenWebAddress(const QString &) override {}
    void OpenFolder(const QString &) override {}
};

SilentPrompts silentPrompts;
UserPrompts *installedPrompts = nullptr;
QString applicationTitle = QStringLiteral("Pellucor");

} // namespace

UserPrompts &Prompts()
{
    return installedPrompts ? *installedPrompts : silentPrompts;
}

void SetPrompts(UserPrompts *prompts)
{
    installedPrompts = prompts;
}

QString ApplicationTitle()
{
    return applicationTitle;
}

void SetApplicationTitle(const QString &title)
{
    applicationTitle = title;
}

int ShowMessage(const QString &text, int buttons, int icon, const QString &title)
{
    return Prompts().MessageBox(text, buttons, icon, title.isEmpty() ? applicationTitle : title);
}

QString ShowInputBox(const QString &prompt, const QString &defaultText)
{
    return Prompts().InputBox(prompt, applicationTitle, defaultText);
}

QString FileDialogAnswer(const QStringList &paths, int bufferSize)
{
    QString answer;
    if (paths.size() == 1) {
        answer = QDir::toNativeSeparators(paths.first());
    } else if (paths.size() > 1) {
        const QString folder = QFileInfo(paths.first()).absolutePath();
        const bool oneFolder = std::all_of(paths.cbegin(), paths.cend(), [&](const QString &path) {
            return QFileInfo(path).absolutePath() == folder;
        });
        // Files from several folders (recent files, a search) keep their own.
        if (oneFolder)
            answer = QDir::toNativeSeparators(folder);
        for (const QString &path : paths)
            answer += QChar(0) + (oneFolder ? QFileInfo(path).fileName() : QDir::toNativeSeparators(path));
    }
    if (answer.size() > bufferSize)
        throw RuntimeError(RuntimeError::DialogBufferTooSmall,
                           RuntimeError::standardText(RuntimeError::DialogBufferTooSmall),
                           QStringLiteral("CommonDialog"));
    return answer;
}

QString ShowOpenDialog(const QString &title, const QString &filter, int bufferSize)
{
    return FileDialogAnswer(Prompts().ChooseFiles(title, filter), bufferSize);
}
