#pragma once

#include <QString>
#include <QTemporaryDir>

// A small file system mounted for one test, to make a disk fill up. Mounting
// needs root; where it is refused, mounted() is false and the test skips.
class TinyFileSystem
{
public:
    explicit TinyFileSystem(int kilobytes);
    ~TinyFileSystem();
    TinyFileSystem(const TinyFileSystem &) = delete;
    TinyFileSystem &operator=(const TinyFileSystem &) = delete;

    bool mounted() const { return m_mounted; }
    // Writes a file named "filler" until no byte more fits.
    void fill();
    QString path() const { return m_folder.path(); }
    QString why() const { return m_why; }

private:
    QTemporaryDir m_folder;
    bool m_mounted = false;
    QString m_why;
};
