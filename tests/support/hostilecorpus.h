#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <initializer_list>
#include <optional>
#include <utility>

// PostScript written to do harm, broken or endless files, and file names
// chosen to trip up whatever passes them on. Aimed at `outside`, a folder
// the tests watch: it holds sentinel.txt, which must outlive every file.
struct HostileFile
{
    QString name;         // file name in the corpus folder
    QByteArray content;   // ignored for a folder
    bool folder = false;  // a folder with an EPS name
    bool converts = false; // a harmless file under a hostile name
};

// The corpus for a run whose Ghostscript job script lies at `jobScript`.
QList<HostileFile> HostileCorpus(const QString &outside, const QString &jobScript);

// Writes `file` into `folder`; returns its path.
QString WriteHostileFile(const QString &folder, const HostileFile &file);

// The sentinel and a few other files a hostile run must leave alone.
void PrepareOutside(const QString &outside);

// What a compromised Ghostscript aims at outside its job: a process of the
// user's (its id in PELLUCOR_TEST_VICTIM_PID), a descriptor left open by
// whatever started the converter, and System V memory of 8 MB segments.
class Bystanders
{
public:
    Bystanders();
    ~Bystanders();
    Bystanders(const Bystanders &) = delete;
    Bystanders &operator=(const Bystanders &) = delete;

    // Which of them a run reached; empty when none.
    QStringList reached() const;

private:
    QProcess m_victim;
    QTemporaryDir m_folder;
    int m_descriptor = -1;
    int m_segments = 0;
};

// Sets environment variables for the life of the object ("" unsets one).
class EnvironmentScope
{
public:
    EnvironmentScope(std::initializer_list<std::pair<const char *, QByteArray>> variables);
    ~EnvironmentScope();

private:
    QList<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// True where the kernel offers every restriction but, perhaps, namespaces.
bool KernelConfinesFiles();

#include <QMetaType>
Q_DECLARE_METATYPE(HostileFile)
