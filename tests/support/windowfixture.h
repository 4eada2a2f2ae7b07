#pragma once

#include "support/scriptedprompts.h"

#include "window/form1.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class ListView;

// The texts of the list's entries, in order.
QStringList Entries(const ListView &list);
// Their marks, as numbers of FileSystem::NameFidelity (0: the text names the file).
QList<int> Fidelities(const ListView &list);

// A loaded and shown main window with scripted prompts, an empty settings
// store and a working folder below a temporary folder, and the built
// application folder (real Ghostscript folder, real pointers).
class WindowFixture
{
public:
    // `prepare` runs after the window is made and before it loads: a test
    // may fill the store, pick the start-up number or another application folder.
    explicit WindowFixture(const std::function<void(WindowFixture &)> &prepare = {});
    ~WindowFixture();

    QString path(const QString &relative) const { return m_root.filePath(relative); }
    QString root() const { return m_root.path(); }
    // The INI file the settings store writes.
    QString settingsFile() const { return m_root.filePath(QStringLiteral("config/Veltranix.ini")); }
    // Copies a file of tests/data to `relative` below the fixture's folder.
    QString input(const QString &relative, const QString &dataFile);
    void append(const QStringList &paths);
    // What most runs start from: these entries, and this output folder in the folder box.
    void prepareRun(const QStringList &inputs, const QString &outputFolder);
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
