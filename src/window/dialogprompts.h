#pragma once

#include "common/userprompts.h"

#include <QPointer>
#include <QWidget>

// The real dialogs: Qt's message box, input dialog, file dialog and folder
// picker, modal to the owner window, and the desktop's browser and file manager.
class DialogPrompts final : public UserPrompts
{
public:
    explicit DialogPrompts(QWidget *owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget *owner) { m_owner = owner; }

    int MessageBox(const QString &text, int buttons, int icon, const QString &title) override;
    QString InputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    QStringList ChooseFiles(const QString &title, const QString &filter) override;
    QString ChooseFolder(const QString &prompt, const QString &startFolder) override;
    void OpenWebAddress(const QString &address) override;
    void OpenFolder(const QString &folder) override;

    // "EPS Files (*.eps)|*.eps|" in the form Qt's file dialog takes.
    static QString QtFilter(const QString &barSeparatedFilter);

private:
    QPointer<QWidget> m_owner;
};
