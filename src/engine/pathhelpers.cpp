#include "pathhelpers.h"

#include "common/filesystem.h"
#include "common/logging.h"
#include "common/runtimeerror.h"
#include "common/shell.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

constexpr int SpecialFolderBufferSize = 512;
// Two helpers keep a position in a 16-bit integer: beyond it they overflow.
constexpr qsizetype LargestShortPosition = 32767;

qsizetype checkedShortPosition(qsizetype oneBasedPosition, const char *helper)
{
    if (oneBasedPosition > LargestShortPosition)
        throw RuntimeError(RuntimeError::Overflow, RuntimeError::standardText(RuntimeError::Overflow),
                           QString::fromLatin1(helper));
    return oneBasedPosition;
}

} // namespace

QChar PathSeparator(PathFlavour flavour)
{
    return flavour == PathFlavour::Windows ? u'\\' : u'/';
}

QString FileNameOfPath(const QString &path, PathFlavour flavour)
{
    return path.mid(path.lastIndexOf(PathSeparator(flavour)) + 1);
}

QString FolderOfPath(const QString &path, PathFlavour flavour)
{
    const qsizetype p = checkedShortPosition(path.lastIndexOf(PathSeparator(flavour)) + 1, "FolderOfPath");
    return p <= 0 ? QString() : path.left(p);
}

QString StripExtension(const QString &name)
{
    if (name.isEmpty())
        return name;
    const qsizetype p = checkedShortPosition(name.lastIndexOf(u'.') + 1, "StripExtension");
    return p >= 2 ? name.left(p - 1) : name;
}

QString NormalizePath(const QString &path, PathFlavour flavour)
{
    if (flavour == PathFlavour::Linux) {
        QString result;
        result.reserve(path.size());
        for (const QChar c : path) {
            if (!(c == u'/' && result.endsWith(u'/')))
                result.append(c);
        }
        return result;
    }
    const QString doubled = QStringLiteral("\\\\");
    if (!path.startsWith(u'\\'))
        return QString(path).replace(doubled, QStringLiteral("\\"));
    qsizetype k = 1;
    while (k < path.size() && path.at(k) == u'\\')
        ++k;
    return doubled + path.mid(k).replace(doubled, QStringLiteral("\\"));
}

bool FolderExists(const QString &path)
{
    try {
        return (FileSystem::FileAttributes(path) & FileSystem::Directory) != 0;
    } catch (const RuntimeError &error) {
        qCDebug(lcEngine) << "FolderExists: no," << error.description();
        return false;
    }
}

bool FileExists(const QString &path)
{
    try {
        FileSystem::LastModified(path);
        return true;
    } catch (const RuntimeError &error) {
        qCDebug(lcEngine) << "FileExists: no," << error.description();
        return false;
    }
}

void DeleteFileQuietly(const QString &path)
{
    Shell::ProcessPendingEvents();
    RemoveFileQuietly(path);
}

void RemoveFileQuietly(const QString &path)
{
    try {
        FileSystem::DeleteFile(path);
    } catch (const RuntimeError &error) {
        qCDebug(lcEngine) << "DeleteFileQuietly:" << error.description() << "- forcing it";
        try {
            FileSystem::ForceDeleteFile(path);
        } catch (const RuntimeError &forced) {
            qCDebug(lcEngine) << "DeleteFileQuietly: left alone," << forced.description();
        }
    }
}

QString GetSpecialFolderPath(int folderId)
{
    if (folderId != DesktopFolderId)
        return {};
    const QString desktop = Platform::DesktopFolder();
    if (desktop.isEmpty())
        return {};
    QString buffer = QDir::toNativeSeparators(desktop) + QChar(0);
    if (buffer.size() < SpecialFolderBufferSize)
        buffer += QString(SpecialFolderBufferSize - buffer.size(), u' ');
    return buffer;
}

QString PathFromSpecialFolderBuffer(const QString &buffer, PathFlavour flavour)
{
    const qsizetype nul = buffer.lastIndexOf(QChar(0));
    if (nul < 0)
        throw RuntimeError(RuntimeError::InvalidCall,
                           QStringLiteral("Invalid procedure call or argument: the desktop folder is unknown"),
                           QStringLiteral("GetDesktopFolder"));
    return buffer.left(nul) + PathSeparator(flavour);
}

QString GetDesktopFolder(QString &scratch, PathFlavour flavour)
{
    scratch = GetSpecialFolderPath(DesktopFolderId);
    return PathFromSpecialFolderBuffer(scratch, flavour);
}
