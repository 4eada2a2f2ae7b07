#pragma once

#include "common/userprompts.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <functional>

// Stands in for every dialog: records what was shown and answers as told.
// Installed for its lifetime; the previous prompts come back afterwards.
class ScriptedPrompts final : public UserPrompts
{
public:
    struct Shown
    {
        QString kind;   // "message", "input", "files", "folder", "web", "open folder"
        QString text;   // message, prompt, title of the file dialog, address or folder
        QString title;
        int buttons = 0;
        int icon = 0;
        QString defaultText; // input box default, folder picker start
    };

    ScriptedPrompts();
    ~ScriptedPrompts() override;

    // Answers, taken in order; when a queue is empty the answer is OK / Cancel.
    QQueue<int> messageAnswers;
    QQueue<QString> inputAnswers;
    QQueue<QStringList> fileAnswers;
    QQueue<QString> folderAnswers;
    // Runs while a message box is "open", as a user's actions would.
    std::function<void(const Shown &)> onMessage;

    QList<Shown> shown;
    QList<Shown> messages() const;

    int MessageBox(const QString &text, int buttons, int icon, const QString &title) override;
    QString InputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QStringList ChooseFiles(const QString &title, const QString &filter) override;
    QString ChooseFolder(const QString &prompt, const QString &startFolder) override;
    void OpenWebAddress(const QString &address) override;
    void OpenFolder(const QString &folder) override;

private:
    UserPrompts *m_previous;
};
