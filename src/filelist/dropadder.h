#pragma once

#include "engine/addfolder.h"

#include <QStringList>

class ListView;

// True when a dropped path is a folder: one look at that name's attributes,
// so a hidden folder and the root of the file system count too.
bool IsDroppedFolder(const QString &path);

// Appends what was dropped on the list, in drop order: a file as it is, a
// folder as every file of its tree (any extension; "~" names and hidden
// archive files left out). A path whose name is not valid UTF-8 (as
// ListView::DroppedPaths gives it) is appended as such, marked, and a folder
// so named is not searched. A path that fails on the way ends the drop,
// keeping what was appended so far; so does the window closing meanwhile.
void AppendDroppedPaths(ListView &list, const QStringList &paths, const AddFolder::Closing &closing = {});
