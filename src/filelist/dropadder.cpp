#include "dropadder.h"

#include "listview.h"

#include "common/filesystem.h"
#include "common/logging.h"
#include "common/platform.h"
#include "common/runtimeerror.h"
#include "common/shell.h"
#include "engine/pathhelpers.h"

#include <QDeadlineTimer>

#include <chrono>

namespace {

// A drop of many files lets the window paint this often.
constexpr std::chrono::milliseconds PaintInterval(50);

} // namespace

bool IsDroppedFolder(const QString &path)
{
    try {
        return FileSystem::FileAttributes(path) & FileSystem::Directory;
    } catch (const RuntimeError &error) {
        qCDebug(lcFileList) << "dropped path taken as a file:" << error.description();
        return false; // not there: appended as it is, like any file
    }
}

void AppendDroppedPaths(ListView &list, const QStringList &paths, const AddFolder::Closing &closing)
{
    const QChar separator = PathSeparator();
    const auto closed = [&] { return closing && closing(); };
    QDeadlineTimer nextPaint(PaintInterval);
    try {
        for (const QString &path : paths) {
            if (nextPaint.hasExpired()) {
                Shell::ProcessPendingEvents();
                if (closed())
                    return;
                nextPaint.setRemainingTime(PaintInterval);
            }
            if (Platform::HoldsRawBytes(path)) { // its text would name another file or none
                list.Append(Platform::ShownText(path), Platform::NamesFolder(path)
                                                           ? FileSystem::NameFidelity::UnfaithfulFolder
                                                           : FileSystem::NameFidelity::UnfaithfulFile);
                continue;
            }
            if (!IsDroppedFolder(path)) {
                list.Append(path);
                continue;
            }
            QStringList folders{path.endsWith(separator) ? path : path + separator};
            QStringList unsearched;
            AddFolder::GetSubDirectories2016(folders, true, closing, &unsearched);
            if (closed())
                return;
            const auto files = AddFolder::CollectFiles(folders, QStringLiteral("*.*"), unsearched);
            for (const AddFolder::ListedPath &file : files)
                list.Append(file.path, file.fidelity);
        }
    } catch (const RuntimeError &error) {
        // The drop has no report of its own; what was appended stays.
        qCWarning(lcFileList) << "drop ended early:" << error.description();
    }
}
