#pragma once

#include "common/filesystem.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Walking a folder tree for files: the folder picker, the collector of the
// sub-folders level by level, the file lister and its probes. Shared by the
// folder scan, drag and drop and the sample loader; needs no widgets.
namespace AddFolder {

// Opens the folder picker at `startFolder` with `prompt`; the chosen folder
// (no trailing separator but for a root), or "" when cancelled.
QString BrowseForFolder(qintptr ownerWindow, const QString &prompt, const QString &startFolder);

// True once the window is closing; a walk then ends at once.
using Closing = std::function<bool()>;

// Appends to `folders` (paths ending in a separator) every folder below
// them, level by level: all direct sub-folders first, grouped by parent in
// list order, then the next level. Folders that are hidden system folders,
// links to folders, longer than 259 characters or named with unusual
// characters are not collected; a folder whose sub-folders cannot be listed
// (no permission, vanished) is dropped from the list. A folder whose name is
// not valid UTF-8 cannot be walked by its path: it is not collected but
// appended to `unsearched` (its path, no trailing separator, as users are
// shown it). The walk lets window events run between folders and ends,
// leaving the lists unfinished, as soon as `closing` says so.
void GetSubDirectories2016(QStringList &folders, bool recurse, const Closing &closing = {},
                           QStringList *unsearched = nullptr);

// The names a file listing returns: 1-based, UBound() of them; with none it
// holds the single index 0, an empty name.
// Each name's entry tells whether the name is faithful (see
// FileSystem::DirectoryEntry).
class FileNameArray
{
public:
    FileNameArray() : m_slots{FileSystem::DirectoryEntry()} {}
    int LBound() const { return m_slots.size() == 1 && m_count == 0 ? 0 : 1; }
    int UBound() const { return m_count; }
    const QString &operator[](int index) const { return m_slots.at(index).name; }
    const FileSystem::DirectoryEntry &Entry(int index) const { return m_slots.at(index); }
    int Capacity() const { return int(m_slots.size()) - 1; }

    void Reserve(int capacity) { m_slots.resize(capacity + 1); }
    void Set(int index, const FileSystem::DirectoryEntry &entry)
    {
        m_slots[index] = entry;
        m_count = qMax(m_count, index);
    }
    void CutTo(int count)
    {
        m_count = count;
        m_slots.resize(count + 1);
    }

private:
    QList<FileSystem::DirectoryEntry> m_slots; // index 0 unused once a name is stored
    int m_count = 0;
};

// Bare names of the files in `folder` matching `pattern` (case ignored,
// hidden files included, folders left out), in listing order. Room for 100
// names at first, 50 more whenever one does not fit, cut to fit at the end.
// A name that is not valid UTF-8 is listed as the listing found it: its
// path cannot be probed.
FileNameArray ListFilesInFolder(QString folder, const QString &pattern);

// A path for the file list, and whether it names what it was found as.
struct ListedPath
{
    QString path;
    FileSystem::NameFidelity fidelity = FileSystem::NameFidelity::Faithful;
};

// What the file at `path`, named `entry` in its folder's listing, adds to
// the file list: nothing when it is gone or a hidden archive file; else its
// path, normalised, and marked when its name is not faithful (its path then
// names another file or none, so the listing's word on it stands).
std::optional<ListedPath> ListedFile(const QString &path, const FileSystem::DirectoryEntry &entry);

// Every file of `folders` (as GetSubDirectories2016 leaves them) whose name
// matches `pattern`, folder by folder: names starting with "~" and hidden
// archive files left out, each path normalised; then each folder of
// `unsearched`, not faithfully named, as such.
QList<ListedPath> CollectFiles(const QStringList &folders, const QString &pattern, const QStringList &unsearched = {});

// True for an existing file; never for a folder.
bool IsExistingFile(const QString &path);

// True when the name holds a control character (below 32 or 127 to 159) or
// "?", judged by Unicode code points.
bool HasUnusualCharacters(const QString &name);

} // namespace AddFolder
