#include "dropadder.h"

#include "addfolder.h"
#include "listview.h"

#include "common/filesystem.h"
#include "common/runtimeerror.h"
#include "engine/pathhelpers.h"

namespace {

constexpr int HiddenArchiveFile = FileSystem::Hidden | FileSystem::Archive; // 34

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
            for (QString folder : folders) {
                folder.chop(1);
                const AddFolder::FileNameArray names = AddFolder::ListFilesInFolder(folder, QStringLiteral("*.*"));
                for (int i = 1; i <= names.UBound(); ++i) {
                    if (names[i].startsWith(u'~'))
                        continue;
                    const QString file = folder + separator + names[i];
                    if (AddFolder::IsExistingFile(file) && FileSystem::FileAttributes(file) != HiddenArchiveFile)
                        list.Append(NormalizePath(file));
                }
            }
        }
    } catch (const RuntimeError &) {
        // The drop has no report of its own; what was appended stays.
    }
}
