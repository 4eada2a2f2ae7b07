#include "runtimeerror.h"

#include "platform.h"

#include <QDir>

#include <cerrno>

RuntimeError::RuntimeError(int number, QString description, QString source)
    : m_number(number), m_description(std::move(description)), m_source(std::move(source)),
      m_what(QStringLiteral("%1 (error %2)").arg(m_description).arg(number).toStdString())
{
}

QString RuntimeError::standardText(int number)
{
    switch (number) {
    case InvalidCall: return QStringLiteral("Invalid procedure call or argument");
    case Overflow: return QStringLiteral("Overflow");
    case OutOfMemory: return QStringLiteral("Out of memory");
    case TypeMismatch: return QStringLiteral("Type mismatch");
    case FileNotFound: return QStringLiteral("File not found");
    case BadFileName: return QStringLiteral("Bad file name");
    case FileAlreadyExists: return QStringLiteral("File already exists");
    case DiskFull: return QStringLiteral("Disk full");
    case PermissionDenied: return QStringLiteral("Permission denied");
    case PathFileAccessError: return QStringLiteral("Path/File access error");
    case PathNotFound: return QStringLiteral("Path not found");
    case DialogBufferTooSmall: return QStringLiteral("The selected file names do not fit the dialog's buffer");
    default: return QStringLiteral("Application-defined or object-defined error");
    }
}

RuntimeError errorFromErrno(int errnoValue, const QString &path, const QString &source)
{
    int number = RuntimeError::PathFileAccessError;
    switch (errnoValue) {
    case ENOENT: number = RuntimeError::FileNotFound; break;
    case ENOTDIR: number = RuntimeError::PathNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS: number = RuntimeError::PermissionDenied; break;
    case EEXIST: number = RuntimeError::FileAlreadyExists; break;
    default:
        if (Platform::IsDiskFull(errnoValue))
            number = RuntimeError::DiskFull;
        break;
    }
    return RuntimeError(number,
                        QStringLiteral("%1: %2").arg(RuntimeError::standardText(number),
                                                     QDir::toNativeSeparators(path)),
                        source);
}
