#pragma once

#include <QString>

#include <exception>
#include <string>

// The one error type of the program: a number, a description and the place
// that raised it. Numbers follow the classic run-time error numbers so that
// callers can tell, say, "permission denied" (70) from "path not found" (76).
class RuntimeError : public std::exception
{
public:
    enum Number {
        InvalidCall = 5,
        Overflow = 6,
        OutOfMemory = 7,
        TypeMismatch = 13,
        FileNotFound = 53,
        BadFileName = 64,
        FileAlreadyExists = 58,
        DiskFull = 61,
        PermissionDenied = 70,
        PathFileAccessError = 75,
        PathNotFound = 76,
        DialogBufferTooSmall = 20476,
    };

    explicit RuntimeError(int number, QString description = {}, QString source = {});

    int number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }
    const QString &source() const noexcept { return m_source; }
    const char *what() const noexcept override { return m_what.c_str(); }

    // The usual text for an error number, used when a raiser gives none.
    static QString standardText(int number);

private:
    int m_number;
    QString m_description;
    QString m_source;
    std::string m_what;
};

// An error for a failed file operation on `path`, from the C library's errno.
RuntimeError errorFromErrno(int errnoValue, const QString &path, const QString &source);
