#include "addfolder.h"

#include "common/errorreport.h"
#include "common/filesystem.h"
#include "common/logging.h"
#include "common/shell.h"
#include "common/userprompts.h"
#include "pathhelpers.h"

#include <functional>

namespace AddFolder {

namespace {

constexpr qsizetype PathLimit = 260;
constexpr int FirstCapacity = 100;
constexpr int CapacityStep = 50;
constexpr int HiddenSystemFolder = FileSystem::Directory | FileSystem::Hidden | FileSystem::System; // 22
constexpr int HiddenSystemReparsePoint = FileSystem::LinkedFolderAttributes;                       // 1046

// Drive roots carry the hidden and system bits and are entered all the same.
bool MayEnter(const QString &folder)
{
    if (FileSystem::IsRootFolder(folder))
        return true;
    int attributes = 0;
    try {
        attributes = FileSystem::FileAttributes(folder);
    } catch (const RuntimeError &error) {
        qCDebug(lcFileList) << "folder walk:" << error.description();
        throw RuntimeError(RuntimeError::PathNotFound, QStringLiteral("Path not found: ") + folder);
    }
    return attributes != HiddenSystemFolder && attributes != HiddenSystemReparsePoint;
}

} // namespace

QString BrowseForFolder(qintptr ownerWindow, const QString &prompt, const QString &startFolder)
{
    Q_UNUSED(ownerWindow); // the prompts know the main window
    return Prompts().ChooseFolder(prompt, startFolder);
}

namespace {

// Adds the sub-folders of `folder` the walk may enter to `found`, and those
// it would have entered but whose names are not faithful to `unsearched`.
// False when the window closed meanwhile; a folder that cannot be listed
// raises.
bool ListSubFolders(const QString &folder, const std::function<bool()> &closed, QStringList &found,
                    QStringList *unsearched)
{
    if (!FolderExists(folder) || folder.size() >= PathLimit)
        return true;
    Shell::ProcessPendingEvents();
    if (closed())
        return false;
    if (!MayEnter(folder))
        return true;
    for (const FileSystem::DirectoryEntry &sub : FileSystem::SubFolders(folder)) {
        Shell::ProcessPendingEvents();
        if (closed())
            return false;
        const QString &name = sub.name;
        if (name.size() >= PathLimit || HasUnusualCharacters(name) || name == QLatin1String(".")
            || name == QLatin1String(".."))
            continue;
        if (sub.faithful)
            found.append(folder + name + PathSeparator());
        else if (unsearched && sub.attributes != HiddenSystemFolder && sub.attributes != HiddenSystemReparsePoint)
            unsearched->append(NormalizePath(folder + name));
    }
    return true;
}

} // namespace

void GetSubDirectories2016(QStringList &folders, bool recurse, const Closing &closing, QStringList *unsearched)
{
    GuardedProcedure walk(procedureLocation(QStringLiteral("AddFolder"), QStringLiteral("GetSubDirectories2016")));
    // The window can only close while events run: the walk looks after each yield.
    const auto closed = [&] { return closing && closing(); };
    QStringList found;
    walk.step(104, [&] { found.clear(); });

    // The folders as they were: dropping one below leaves the walk as it is.
    const QStringList walked = folders;
    for (const QString &v : walked) {
        try {
            if (!ListSubFolders(v, closed, found, unsearched))
                return;
        } catch (const RuntimeError &error) {
            // No report here: a folder that cannot be listed, or is gone,
            // leaves the list, and the walk goes on with the next one.
            qCDebug(lcFileList) << "folder walk passes over" << v << ":" << error.description();
            if (error.number() == RuntimeError::PermissionDenied || error.number() == RuntimeError::PathNotFound) {
                const qsizetype position = folders.indexOf(v);
                if (position >= 0)
                    folders.removeAt(position);
            }
        }
    }

    if (walk.test(150, [&] { return recurse && !found.isEmpty(); })) {
        walk.step(150, [&] { GetSubDirectories2016(found, true, closing, unsearched); });
        if (closed())
            return;
    }
    for (const QString &w : found) {
        if (!walk.test(154, [&] { return FolderExists(w); }))
            continue;
        walk.step(156, [] { Shell::ProcessPendingEvents(); });
        if (closed())
            return;
        if (walk.test(158, [&] { return MayEnter(w); }))
            walk.step(160, [&] { folders.append(w); });
    }
}

FileNameArray ListFilesInFolder(QString folder, const QString &pattern)
{
    FileNameArray names;
    names.Reserve(FirstCapacity);
    int count = 0;
    const QChar separator = PathSeparator();
    if (!folder.endsWith(separator))
        folder += separator;
    for (const FileSystem::DirectoryEntry &entry :
         FileSystem::ListDirectory(folder, pattern, FileSystem::ListHiddenAndSystem)) {
        // The listing holds files only; a name that is not faithful cannot be probed again.
        if (entry.faithful && !IsExistingFile(folder + entry.name))
            continue;
        ++count;
        if (count > names.Capacity())
            names.Reserve(names.Capacity() + CapacityStep);
        names.Set(count, entry);
    }
    if (count == 0)
        return FileNameArray();
    names.CutTo(count);
    return names;
}

std::optional<ListedPath> ListedFile(const QString &path, const FileSystem::DirectoryEntry &entry)
{
    constexpr int hiddenArchive = FileSystem::Hidden | FileSystem::Archive; // 34
    if (!entry.faithful) {
        if (entry.attributes == hiddenArchive)
            return std::nullopt;
        return ListedPath{NormalizePath(path), FileSystem::NameFidelity::UnfaithfulFile};
    }
    if (IsExistingFile(path) && FileSystem::FileAttributes(path) != hiddenArchive)
        return ListedPath{NormalizePath(path)};
    return std::nullopt;
}

QList<ListedPath> CollectFiles(const QStringList &folders, const QString &pattern, const QStringList &unsearched)
{
    const QChar separator = PathSeparator();
    QList<ListedPath> files;
    for (QString folder : folders) {
        folder.chop(1);
        const FileNameArray names = ListFilesInFolder(folder, pattern);
        for (int i = 1; i <= names.UBound(); ++i) {
            if (names[i].startsWith(u'~'))
                continue;
            if (const auto listed = ListedFile(folder + separator + names[i], names.Entry(i)))
                files.append(*listed);
        }
    }
    for (const QString &folder : unsearched)
        files.append({folder, FileSystem::NameFidelity::UnfaithfulFolder});
    return files;
}

bool IsExistingFile(const QString &path)
{
    return FileSystem::OpenProbe(path);
}

bool HasUnusualCharacters(const QString &name)
{
    for (const char32_t c : name.toUcs4()) {
        if (c < 32 || (c >= 127 && c <= 159) || c == U'?')
            return true;
    }
    return false;
}

} // namespace AddFolder
