#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

// The file-system services the program stands on. Every failure is raised as
// a RuntimeError with a number callers can act on (53 file not found, 70
// permission denied, 75 access error, 76 path not found, 61 disk full).
namespace FileSystem {

// Attribute bits as the program uses them. On Linux: read-only means not
// writable by this user, hidden means the name starts with ".", every regular
// file carries the archive bit, nothing is a system file, and a link to a
// folder reads as a hidden system reparse point (1046) so it is never entered.
enum Attribute {
    ReadOnly = 1,
    Hidden = 2,
    System = 4,
    Directory = 16,
    Archive = 32,
    ReparsePoint = 1024,
};
constexpr int LinkedFolderAttributes = Directory | Hidden | System | ReparsePoint;

// Selection bits of a directory listing: 0 lists plain files only,
// HiddenAndSystem adds hidden and system files, Directory adds folders.
constexpr int ListHiddenAndSystem = Hidden | System;

// An environment variable; "" when unset.
QString Environment(const QString &name);

// The folder that holds the program, without a trailing separator.
QString ApplicationFolder();
// Names another folder as the application folder ("" goes back to the
// program's own). The test programs live elsewhere than the program.
void SetApplicationFolder(const QString &folder);

// The parent of the working folder: TEMP on Windows; on Linux $TEMP when set,
// else $XDG_RUNTIME_DIR, else a folder of this user's own in the system
// temporary folder, created private and refused when it is not. A named
// folder that is missing is made; error 76 when that is not possible.
QString TempFolder();

// Creates `path` (one level) private to this user, or checks that an existing
// one is a real folder owned by this user and closed to others.
void EnsurePrivateFolder(const QString &path);

// Whether a copy must survive a crash of the system: a working copy that
// is made afresh whenever it is needed need not wait for the disk.
enum class Durability { Synced, Transient };

// Copies a folder tree onto `destination`, creating it when missing and
// overwriting files that exist there; the copies are working copies.
void CopyFolder(const QString &source, const QString &destination);

// Copies one file onto `destination`, overwriting it. The copy is written
// beside the destination and renamed into place, so a failed copy never
// leaves a half-written file under that name; an old file stays whole.
void CopyFile(const QString &source, const QString &destination, Durability durability = Durability::Synced);

class ReplacingWriter;

// The new contents of `destination`, taken from `source` and kept beside it
// under a name no reader looks for until commit() puts them in its place:
// `source` itself where it may be Moved and both lie on one file system,
// else a copy made by the system. A replaced file's mode and owner carry
// over; a new file gets a new file's mode. Throws RuntimeError. What is
// never committed is removed.
class StagedFile
{
public:
    enum class Source { Copied, Moved };

    StagedFile(const QString &source, const QString &destination, Source origin);
    ~StagedFile();
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    // Whether a file (or anything) had the destination's name when it was staged.
    bool replacesFile() const;
    // Puts its bytes on disk.
    void sync();
    // Puts every file written on its file system on disk, its own among
    // them; false where the system cannot, and each is synced by itself.
    bool syncFileSystem();
    // Renames it into place: only once its bytes are on disk.
    void commit();

private:
    std::unique_ptr<ReplacingWriter> m_writer;
};

// Removes whatever is at `path`: a file, a link (not what it points to) or a
// folder with everything in it, also folders closed to their owner. Quiet:
// what cannot be removed stays.
void RemoveTree(const QString &path);

// Removes everything inside `folder`, the same way; the folder stays.
void EmptyFolder(const QString &folder);

// Deletes one file; fails when nothing was deleted.
void DeleteFile(const QString &path);

// Deletes one file even when it is read-only.
void ForceDeleteFile(const QString &path);

// A name a listing found. Where the file system names files with bytes
// (Linux), a name that is not valid UTF-8 has no text of its own: `name`
// shows it with U+FFFD for what could not be read, a path made with it names
// another file or none, and `faithful` is false. `attributes` (as
// FileAttributes gives them) are read through the entry's real name: for
// such a name, the only word on the entry.
struct DirectoryEntry
{
    QString name;
    bool faithful = true;
    int attributes = 0;
};

// The entries in `folder` whose names match `pattern` (* and ?, case
// ignored; "*.*" matches every name), in name order. `selection` as above.
QList<DirectoryEntry> ListDirectory(const QString &folder, const QString &pattern, int selection);

// True when `name` matches the wildcard `pattern` in the way directory
// listings match: * is any run, ? any one character, case is ignored.
bool WildcardMatches(const QString &pattern, const QString &name);

// The attribute bits of a file or folder; error 53 when it does not exist.
int FileAttributes(const QString &path);

// The last-modified time; error 53 when the path does not exist.
QDateTime LastModified(const QString &path);

// True only for an existing file (links followed); never for a folder.
bool OpenProbe(const QString &path);

// True for an existing file that is neither hidden nor a folder.
bool PlainFileExists(const QString &path);

// True when the folder is the root of its file system.
bool IsRootFolder(const QString &path);

// The sub-folders of `folder` (links to folders too), in name order. Error
// 70 when the folder cannot be read, 76 when it does not exist.
QList<DirectoryEntry> SubFolders(const QString &folder);

// How a path of the file list stands for what it was found as.
enum class NameFidelity {
    Faithful,         // the path names it
    UnfaithfulFile,   // a file whose name is not valid UTF-8: the path shows it, but names another or none
    UnfaithfulFolder, // the same of a folder, which therefore was not searched
};
// Why an entry that is not Faithful is not converted, in the user's words.
QString UnfaithfulReason(NameFidelity fidelity);

// Creates or empties `path` and writes `text` followed by `lineEnd`.
void WriteTextFile(const QString &path, const QString &text, const QString &lineEnd);

} // namespace FileSystem
