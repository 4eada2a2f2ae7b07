#include "scriptedprompts.h"

ScriptedPrompts::ScriptedPrompts() : m_previous(&Prompts())
{
    SetPrompts(this);
}

ScriptedPrompts::~ScriptedPrompts()
{
    SetPrompts(m_previous);
}

QList<ScriptedPrompts::Shown> ScriptedPrompts::messages() const
{
    QList<Shown> result;
    for (const Shown &item : shown) {
        if (item.kind == QLatin1String("message"))
            result.append(item);
    }
    return result;
}

int ScriptedPrompts::MessageBox(const QString &text, int buttons, int icon, const QString &title)
{
    const Shown item{QStringLiteral("message"), text, title, buttons, icon, {}};
    shown.append(item);
    if (onMessage)
        onMessage(item);
    if (!messageAnswers.isEmpty())
        return messageAnswers.dequeue();
    return Ok;
}

QString ScriptedPrompts::InputBox(const QString &prompt, const QString &title, const QString &defaultText)
{
    shown.append({QStringLiteral("input"), prompt, title, 0, 0, defaultText});
    return inputAnswers.isEmpty() ? QString() : inputAnswers.dequeue();
}

QStringList ScriptedPrompts::ChooseFiles(const QString &title, const QString &filter)
{
    shown.append({QStringLiteral("files"), title, {}, 0, 0, filter});
    return fileAnswers.isEmpty() ? QStringList() : fileAnswers.dequeue();
}

QString ScriptedPrompts::ChooseFolder(const QString &prompt, const QString &startFolder)
{
    shown.append({QStringLiteral("folder"), prompt, {}, 0, 0, startFolder});
    return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue();
}

void ScriptedPrompts::OpenWebAddress(const QString &address)
{
    shown.append({QStringLiteral("web"), address, {}, 0, 0, {}});
}

void ScriptedPrompts::OpenFolder(const QString &folder)
{
    shown.append({QStringLiteral("open folder"), folder, {}, 0, 0, {}});
}
