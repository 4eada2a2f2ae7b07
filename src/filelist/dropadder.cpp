#include "dropadder.h"

#include "addfolder.h"
#include "listview.h"

#include "common/filesystem.h"
#include "common/runtimeerror.h"
#include "engine/pathhelpers.h"

namespace {

bool IsFolder(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(PathSeparator()))
        trimmed.chop(1);
    return !FileSystem::ListDirectory(FolderOfPath(trimmed), FileNameOfPath(trimmed), FileSystem::Directory).isEmpty()
           && (FileSystem::FileAttributes(trimmed) & FileSystem::Directory);
}

} // namespace

void AppendDroppedPaths(ListView &list, const QStringList &paths)
{
    const QChar separator = PathSeparator();
    try {
        for (const QString &path : paths) {
            if (!IsFolder(path)) {
                list.Append(path);
                continue;
            }
            QStringList folders{path.endsWith(separator) ? path : path + separator};
            AddFolder::GetSubDirectories2016(folders, true);
            for (const QString &file : AddFolder::CollectFiles(folders, QStringLiteral("*.*")))
                list.Append(file);
        }
    } catch (const RuntimeError &) {
        // The drop has no report of its own; what was appended stays.
    }
}
