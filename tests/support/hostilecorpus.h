#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

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

#include <QMetaType>
Q_DECLARE_METATYPE(HostileFile)
