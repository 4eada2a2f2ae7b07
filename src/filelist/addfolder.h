#pragma once

#include <QString>

// The folder picker, shared by the folder scan and the output-folder button.
namespace AddFolder {

// Opens the folder picker at `startFolder` with `prompt`; the chosen folder
// (no trailing separator but for a root), or "" when cancelled.
QString BrowseForFolder(qintptr ownerWindow, const QString &prompt, const QString &startFolder);

} // namespace AddFolder
