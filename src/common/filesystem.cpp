#include "filesystem.h"

#include "logging.h"
#include "platform.h"
#include "runtimeerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace FileSystem {

namespace {

const QString Source = QStringLiteral("FileSystem");

RuntimeError errorFor(int number, const QString &path)
{
    return RuntimeError(number,
                        QStringLiteral("%1: %2").arg(RuntimeError::standardText(number),
                                                     QDir::toNativeSeparators(path)),
                        Source);
}

// A path that cannot be seen is either not there or behind a folder this user
// may not enter; the message should say which.
RuntimeError errorForMissing(const QString &path)
{
    for (QFileInfo folder(QFileInfo(path).absolutePath()); !folder.isRoot();
         folder = QFileInfo(folder.absolutePath())) {
        if (folder.exists()) {
            if (!Platform::MayEnter(folder))
                return errorFor(RuntimeError::PermissionDenied, path);
            break;
        }
    }
    return errorFor(RuntimeError::FileNotFound, path);
}

// "dir/" and "dir" name the same folder; links are judged on the name itself.
QString withoutTrailingSeparators(const QString &path)
{
    QString result = path;
    while (result.size() > 1 && (result.endsWith(u'/') || result.endsWith(u'\\')) && !Platform::IsDriveRoot(result))
        result.chop(1);
    return result;
}

bool isLinkedFolder(const QFileInfo &info)
{
    return info.isSymLink() && info.isDir();
}

// What FileAttributes says of a path, for an entry a listing found.
DirectoryEntry directoryEntry(const Platform::FolderEntry &entry)
{
    int attributes = LinkedFolderAttributes;
    if (!entry.link || !entry.folder) {
        attributes = entry.folder ? Directory : Archive;
        if (!entry.writable)
            attributes |= ReadOnly;
        if (entry.hidden)
            attributes |= Hidden;
    }
    return {entry.name, entry.faithful, attributes};
}

// A folder where a file was wanted.
RuntimeError errorForFolder(const QString &path)
{
    return RuntimeError(RuntimeError::PathFileAccessError,
                        QStringLiteral("Path/File access error: %1 is a folder").arg(QDir::toNativeSeparators(path)),
                        Source);
}

// Why a file in `folder` could not be created or replaced.
RuntimeError errorForUnwritable(const QString &path)
{
    const QFileInfo info(path);
    const QFileInfo parent(info.absolutePath());
    if (!parent.exists() || !parent.isDir())
        return errorFor(RuntimeError::PathNotFound, info.absolutePath());
    if (info.isDir())
        return errorForFolder(path);
    if (!parent.isWritable() || (info.exists() && !info.isWritable()))
        return errorFor(RuntimeError::PermissionDenied, path);
    return errorFor(RuntimeError::PathFileAccessError, path);
}

RuntimeError errorForFailedWrite(const QFileDevice &device, const QString &path)
{
    if (device.error() == QFileDevice::ResourceError)
        return errorFor(RuntimeError::DiskFull, path);
    return RuntimeError(RuntimeError::PathFileAccessError,
                        QStringLiteral("Path/File access error: %1 (%2)")
                            .arg(QDir::toNativeSeparators(path), device.errorString()),
                        Source);
}

// A short write is how a filling disk first shows; the retry then reports why.
bool writeAll(QFileDevice &device, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 written = device.write(data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

// Writes a new version of a file beside it and renames it into place only
// when every byte is on disk, so a failure never leaves a half-written file
// under the name and an old file stays whole. (QSaveFile will not do: it can
// report success after its final flush has failed on a full disk.) The
// temporary name is short, so that any name the file system takes for the
// file itself also fits the temporary one.
class ReplacingWriter
{
public:
    explicit ReplacingWriter(const QString &destination) : m_destination(destination)
    {
        static std::atomic<int> counter{0};
        const QFileInfo info(destination);
        if (info.exists() && !info.isDir() && !info.isWritable())
            throw errorFor(RuntimeError::PermissionDenied, destination);
        if (info.isDir())
            throw errorForUnwritable(destination);
        m_replaces = info.exists() || info.isSymLink();
        // A name left by a crashed program of the same process id is passed over.
        for (int attempt = 0;; ++attempt) {
            m_temporary.setFileName(
                info.absolutePath()
                + QStringLiteral("/.pellucor-%1-%2.part").arg(QCoreApplication::applicationPid()).arg(++counter));
            if (m_temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
                break;
            if (attempt == 10 || !QFileInfo(m_temporary.fileName()).exists())
                throw errorForUnwritable(destination);
        }
    }
    ~ReplacingWriter()
    {
        if (!m_committed) {
            m_temporary.close();
            m_temporary.remove();
        }
    }
    ReplacingWriter(const ReplacingWriter &) = delete;
    ReplacingWriter &operator=(const ReplacingWriter &) = delete;

    void write(const char *data, qint64 size)
    {
        if (!writeAll(m_temporary, data, size))
            throw errorForFailedWrite(m_temporary, m_destination);
    }

    // The whole of `source`, copied by the system where it can.
    void copyFrom(QFile &source)
    {
        if (const std::optional<bool> copied = Platform::CopyInSystem(source, m_temporary)) {
            if (!*copied)
                throw errorFromErrno(errno, m_destination, Source);
            return;
        }
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        for (;;) {
            const qint64 got = source.read(buffer.data(), buffer.size());
            if (got < 0)
                throw errorForFailedWrite(source, source.fileName());
            if (got == 0)
                return;
            write(buffer.constData(), got);
        }
    }

    // `source` itself becomes the new contents, moved here, with the mode a
    // new file gets; false where it lies on another file system, or is no
    // plain file of one name (a link to it elsewhere would change with it).
    bool takeFrom(const QString &source)
    {
        std::error_code error;
        const std::filesystem::path from = QFile::encodeName(source).toStdString();
        if (std::filesystem::symlink_status(from, error).type() != std::filesystem::file_type::regular
            || std::filesystem::hard_link_count(from, error) != 1 || error)
            return false;
        // Over the empty file that holds the name, which stays open for a
        // copy until then.
        const QFileDevice::Permissions newFile = m_temporary.permissions();
        std::filesystem::rename(from, QFile::encodeName(m_temporary.fileName()).toStdString(), error);
        if (error)
            return false;
        m_temporary.close();
        if (!m_temporary.open(QIODevice::ReadOnly) || !m_temporary.setPermissions(newFile))
            throw errorForUnwritable(m_destination);
        return true;
    }

    bool replacesFile() const { return m_replaces; }

    // Done writing: the flushed file gets a replaced file's mode and owner.
    void finish()
    {
        if (!m_temporary.flush())
            throw errorForFailedWrite(m_temporary, m_destination);
        Platform::KeepModeOf(m_destination, m_temporary);
    }

    void sync()
    {
        if (!Platform::SyncToDisk(m_temporary))
            throw errorFromErrno(errno, m_destination, Source);
    }

    bool syncFileSystem() { return Platform::SyncFileSystemOf(m_temporary); }

    // Once its bytes are on disk: it takes the destination's name.
    void rename()
    {
        m_temporary.close();
        if (m_temporary.error() != QFileDevice::NoError)
            throw errorForFailedWrite(m_temporary, m_destination);
        std::error_code error;
        std::filesystem::rename(QFile::encodeName(m_temporary.fileName()).toStdString(),
                                QFile::encodeName(m_destination).toStdString(), error);
        if (error == std::errc::filename_too_long)
            throw RuntimeError(RuntimeError::BadFileName,
                               QStringLiteral("File name too long: %1").arg(QDir::toNativeSeparators(m_destination)),
                               Source);
        if (error)
            throw errorForUnwritable(m_destination);
        m_committed = true;
    }

    void commit()
    {
        finish();
        sync();
        rename();
    }

private:
    QString m_destination;
    QFile m_temporary;
    bool m_replaces = false;
    bool m_committed = false;
};

QString Environment(const QString &name)
{
    return qEnvironmentVariable(name.toLocal8Bit().constData());
}

namespace {
QString applicationFolderOverride;
}

QString ApplicationFolder()
{
    return applicationFolderOverride.isEmpty() ? QCoreApplication::applicationDirPath() : applicationFolderOverride;
}

void SetApplicationFolder(const QString &folder)
{
    applicationFolderOverride = folder;
}

QString TempFolder()
{
    QString temp = Environment(QStringLiteral("TEMP"));
    if (temp.isEmpty())
        temp = Platform::DefaultTempFolder();
    // Every path of the jobs is built on this one, and a job runs in a folder
    // of its own: a relative TEMP would mean something else there.
    if (!temp.isEmpty())
        temp = QDir(temp).absolutePath();
    // A TEMP that names a folder not there (yet) is made, closed to others.
    if (!temp.isEmpty() && !QFileInfo(temp).exists()) {
        if (QDir().mkpath(temp))
            QFile::setPermissions(temp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    if (!QFileInfo(temp).isDir())
        throw RuntimeError(RuntimeError::PathNotFound,
                           QStringLiteral("The temporary folder \"%1\" (environment variable TEMP) is not a folder "
                                          "and cannot be made one.")
                               .arg(temp),
                           Source);
    return temp;
}

void EnsurePrivateFolder(const QString &path)
{
    Platform::EnsurePrivateFolder(path);
}

void CopyFolder(const QString &source, const QString &destination)
{
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isDir())
        throw errorFor(RuntimeError::PathNotFound, source);
    if (!QFileInfo(destination).isDir() && !QDir().mkpath(destination))
        throw errorForUnwritable(destination);
    const QDir sourceDir(source);
    const auto entries = sourceDir.entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                                                 QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString target = destination + u'/' + entry.fileName();
        if (entry.isDir()) {
            if (!entry.isSymLink()) // a linked folder could lead back into the tree
                CopyFolder(entry.filePath(), target);
        } else {
            CopyFile(entry.filePath(), target, Durability::Transient);
            // Keep the bits (a program stays executable) but let the next copy replace it.
            QFile::setPermissions(target, entry.permissions() | QFileDevice::WriteOwner | QFileDevice::ReadOwner);
        }
    }
}

void CopyFile(const QString &source, const QString &destination, Durability durability)
{
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists())
        throw errorForMissing(source);
    if (sourceInfo.isDir())
        throw errorForFolder(source);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw errorFor(RuntimeError::PermissionDenied, source);

    ReplacingWriter out(destination);
    out.copyFrom(in);
    out.finish();
    if (durability == Durability::Synced)
        out.sync();
    out.rename();
}

StagedFile::StagedFile(const QString &source, const QString &destination, Source origin)
{
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists())
        throw errorForMissing(source);
    if (sourceInfo.isDir())
        throw errorForFolder(source);
    m_writer = std::make_unique<ReplacingWriter>(destination);
    if (origin == Source::Moved && m_writer->takeFrom(source)) {
        m_writer->finish();
        return;
    }
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw errorFor(RuntimeError::PermissionDenied, source);
    m_writer->copyFrom(in);
    m_writer->finish();
}

StagedFile::~StagedFile() = default;

bool StagedFile::replacesFile() const
{
    return m_writer->replacesFile();
}

void StagedFile::sync()
{
    m_writer->sync();
}

bool StagedFile::syncFileSystem()
{
    return m_writer->syncFileSystem();
}

void StagedFile::commit()
{
    m_writer->rename();
}

namespace {

// By the names' bytes, not their decoding: a job may leave names that are no text.
void removeTree(const std::filesystem::path &path)
{
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::directory) {
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     error);
        std::vector<std::filesystem::path> entries;
        for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            entries.push_back(it->path());
        for (const std::filesystem::path &entry : entries)
            removeTree(entry);
    }
    if (!std::filesystem::remove(path, error) && error && error != std::errc::no_such_file_or_directory)
        qCWarning(lcEngine) << "cannot remove" << QString::fromStdString(path.string()) << error.message().c_str();
}

} // namespace

void RemoveTree(const QString &path)
{
    removeTree(QFile(path).filesystemFileName());
}

void EmptyFolder(const QString &folder)
{
    std::error_code error;
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator it(QFile(folder).filesystemFileName(), error), end; !error && it != end;
         it.increment(error))
        entries.push_back(it->path());
    for (const std::filesystem::path &entry : entries)
        removeTree(entry);
}

void DeleteFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        throw errorFor(RuntimeError::FileNotFound, path);
    if (info.isDir() && !info.isSymLink())
        throw errorForFolder(path);
    if (!QFile::remove(path))
        throw errorForUnwritable(path);
}

void ForceDeleteFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isSymLink() && !info.isWritable())
        QFile::setPermissions(path, info.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    DeleteFile(path);
}

bool WildcardMatches(const QString &pattern, const QString &name)
{
    if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
        return true;
    // Classic two-pointer match with backtracking to the last star.
    qsizetype p = 0, n = 0, star = -1, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern.at(p) == u'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size()
                   && (pattern.at(p) == u'?' || pattern.at(p).toCaseFolded() == name.at(n).toCaseFolded())) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == u'*')
        ++p;
    return p == pattern.size();
}

QList<DirectoryEntry> ListDirectory(const QString &folder, const QString &pattern, int selection)
{
    QDir::Filters filters = QDir::Files;
    if (selection & ListHiddenAndSystem)
        filters |= QDir::Hidden;
    if (selection & Directory)
        filters |= QDir::Dirs;
    QList<DirectoryEntry> result;
    for (const Platform::FolderEntry &entry : Platform::ListFolder(folder, filters)) {
        if (WildcardMatches(pattern, entry.name))
            result.append(directoryEntry(entry));
    }
    return result;
}

int FileAttributes(const QString &path)
{
    const QFileInfo info(withoutTrailingSeparators(path));
    if (isLinkedFolder(info))
        return LinkedFolderAttributes;
    if (!info.exists())
        throw errorFor(RuntimeError::FileNotFound, path);
    int attributes = info.isDir() ? Directory : Archive;
    if (!info.isWritable())
        attributes |= ReadOnly;
    if (info.isHidden() && !info.isRoot())
        attributes |= Hidden;
    return attributes;
}

QDateTime LastModified(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw errorFor(RuntimeError::FileNotFound, path);
    return info.lastModified();
}

bool OpenProbe(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

bool PlainFileExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isHidden();
}

bool IsRootFolder(const QString &path)
{
    return QFileInfo(path).isRoot();
}

QList<DirectoryEntry> SubFolders(const QString &folder)
{
    const QFileInfo info(withoutTrailingSeparators(folder));
    if (!info.exists() || !info.isDir())
        throw errorFor(RuntimeError::PathNotFound, folder);
    if (!info.isReadable() || !Platform::MayEnter(info))
        throw errorFor(RuntimeError::PermissionDenied, folder);
    QList<DirectoryEntry> folders;
    for (const Platform::FolderEntry &entry : Platform::ListFolder(folder, QDir::Dirs | QDir::Hidden))
        folders.append(directoryEntry(entry));
    return folders;
}

QString UnfaithfulReason(NameFidelity fidelity)
{
    switch (fidelity) {
    case NameFidelity::Faithful: break;
    case NameFidelity::UnfaithfulFile: return QStringLiteral("the name is not valid UTF-8");
    case NameFidelity::UnfaithfulFolder:
        return QStringLiteral("the folder's name is not valid UTF-8, so it was not searched");
    }
    return {};
}

void WriteTextFile(const QString &path, const QString &text, const QString &lineEnd)
{
    ReplacingWriter file(path);
    const QByteArray bytes = (text + lineEnd).toLocal8Bit();
    file.write(bytes.constData(), bytes.size());
    file.commit();
}

} // namespace FileSystem
