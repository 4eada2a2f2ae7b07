#pragma once

#include "sandbox/ghostscriptpolicy.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

// What the command line of pellucor-batch asks for.
struct BatchCommandLine
{
    QStringList paths;
    std::optional<QString> outputFolder; // --output DIR
    bool beside = false;                 // --beside
    bool mirror = false;                 // --mirror
    std::optional<int> quality;          // --quality N
    std::optional<int> resolution;       // --resolution DPI
    GhostscriptPolicy::Image::Format format = GhostscriptPolicy::Image::Format::Jpeg;               // --format
    GhostscriptPolicy::Image::Background background = GhostscriptPolicy::Image::Background::White; // --background
    GhostscriptPolicy::Image::Antialias antialias = GhostscriptPolicy::Image::Antialias::Graphics; // --antialias
    GhostscriptPolicy::Image::Crop crop = GhostscriptPolicy::Image::Crop::Box;                     // --crop
    GhostscriptPolicy::Image::Chroma chroma = GhostscriptPolicy::Image::Chroma::Half;              // --chroma
    std::optional<int> width;            // --width PX
    std::optional<int> height;           // --height PX
    std::optional<double> margin;        // --margin PT
    bool eachPage = false;               // --pages each
    std::optional<int> jobs;             // --jobs N
    std::optional<double> timeoutSeconds;
    std::optional<int> memoryLimitMegabytes; // --memory-limit MB
    std::optional<int> maxOutputMegabytes;   // --max-output MB
    std::optional<QString> filesFrom;        // --files-from FILE, "-" for standard input
    bool nullSeparated = false;              // --null
    std::optional<QString> report;           // --report FILE, "-" for standard output
    int shard = 1;                           // --shard K/N: the K-th part ...
    int shards = 1;                          // ... of N
    QString extension = QStringLiteral("eps");
    bool skipNewer = false;                  // --skip-existing newer
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// A command line that cannot be carried out; the text is one line for the user.
class UsageError : public std::runtime_error
{
public:
    explicit UsageError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

// Reads the arguments after the program name, as Platform::Arguments gives
// them; UsageError for anything wrong, a file or folder an option names with
// a name that is not valid UTF-8 included.
BatchCommandLine parseBatchCommandLine(const QStringList &arguments);

// The text --help prints.
QString batchUsage();

// The paths of a --files-from list: one a line (a CR before the LF is no part
// of it), or NUL-separated; empty ones skipped. Each as Platform::TextOfName
// gives it: a name that is not valid UTF-8 keeps its bytes.
QStringList pathsFromList(const QByteArray &list, bool nullSeparated);

// The K-th of N deterministic, disjoint parts of `files`, taken by position
// in the sorted list, so that N machines given the same list convert
// everything exactly once: the positions in `files` of that part, sorted by name.
QList<qsizetype> shardOf(const QStringList &files, int shard, int shards);
