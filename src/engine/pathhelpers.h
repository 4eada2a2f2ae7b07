#pragma once

#include "common/platform.h"

#include <QString>

// Helpers on path texts and on the file system, used throughout the program.
//
// Which check, and which delete, when:
//   FileExists                   something is there, a folder too (the window's own test)
//   FolderExists                 a folder is there
//   IsExistingFile (addfolder.h) a file, never a folder (the folder walk's test)
//   FileSystem::OpenProbe        the same, for code below the engine
//   FileSystem::PlainFileExists  a file, neither hidden nor a folder (a staged copy made)
//   FileSystem::DeleteFile       one file; fails when nothing was deleted
//   FileSystem::ForceDeleteFile  one file, read-only too; fails as DeleteFile
//   DeleteFileQuietly            lets events run, then deletes, by force if need be; never fails
//   RemoveFileQuietly            the same without running events (inside a step that must not yield)
//   FileSystem::RemoveTree       whatever is there, a folder with its contents, a link itself
//
// Every helper exists in two flavours: Windows paths ("\" separators and the
// leading "\\" of network paths) and Linux paths ("/"). The program uses the
// native one; the other is compiled everywhere so both are tested everywhere.
enum class PathFlavour { Windows, Linux };

inline const PathFlavour NativeFlavour = Platform::UsesWindowsPaths() ? PathFlavour::Windows : PathFlavour::Linux;

QChar PathSeparator(PathFlavour flavour = NativeFlavour);

// The part after the last separator ("" for a path ending in one).
QString FileNameOfPath(const QString &path, PathFlavour flavour = NativeFlavour);

// The part up to and including the last separator, or "". Error 6 when that
// separator lies beyond position 32767.
QString FolderOfPath(const QString &path, PathFlavour flavour = NativeFlavour);

// The name without its last "." and what follows, unless that "." is the
// first character. Error 6 when the "." lies beyond position 32767.
QString StripExtension(const QString &name);

// Collapses the doubled separators that joining leaves. Windows: every pair
// becomes one in a single pass, and a leading run becomes exactly "\\" (a
// network path). Linux: every run becomes one "/", the leading one included.
QString NormalizePath(const QString &path, PathFlavour flavour = NativeFlavour);

// True for an existing folder; never fails.
bool FolderExists(const QString &path);

// True for an existing file or folder; never fails.
bool FileExists(const QString &path);

// Lets pending events run, then deletes the file, by force if need be.
// Never fails: a file that is not there is simply not there.
void DeleteFileQuietly(const QString &path);

// Deletes the file as DeleteFileQuietly does, but runs no event: no window
// handler can come in between.
void RemoveFileQuietly(const QString &path);

// Shell folder id of the desktop.
inline constexpr int DesktopFolderId = 0;

// The path of a special folder in a 512-character buffer: the path, one NUL,
// then spaces. "" when the folder is unknown.
QString GetSpecialFolderPath(int folderId);

// The path in a special-folder buffer followed by one separator. Error 5 when
// the buffer holds no NUL, that is, no path was found.
QString PathFromSpecialFolderBuffer(const QString &buffer, PathFlavour flavour = NativeFlavour);

// The user's desktop folder followed by one separator; `scratch` receives the
// special-folder buffer. On Linux the home folder when the desktop folder does
// not exist. Error 5 when there is no desktop folder.
QString GetDesktopFolder(QString &scratch, PathFlavour flavour = NativeFlavour);
