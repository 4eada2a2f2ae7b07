#pragma once

#include "support/scriptedprompts.h"

#include "window/form1.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A shown main window with scripted prompts, its working folder below a
// temporary TEMP, and the built application folder (real Ghostscript folder).
class WindowFixture
{
public:
    WindowFixture();
    ~WindowFixture();

    QString path(const QString &relative) const { return m_root.filePath(relative); }
    // Copies a file of tests/data to `relative` below the fixture's folder.
    QString input(const QString &relative, const QString &dataFile);
    void append(const QStringList &paths);
    // The working folder the window's runs use.
    QString workingFolder() const { return m_root.filePath(QStringLiteral("temp/ps")); }
    // Presses "Start Converting To JPG" as a user would and returns when the run is over.
    void start();

    ScriptedPrompts prompts;
    std::unique_ptr<Form1> form;

private:
    QTemporaryDir m_root;
    QByteArray m_oldTemp;
};
