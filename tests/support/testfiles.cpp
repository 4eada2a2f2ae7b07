#include "testfiles.h"

#include "common/runtimeerror.h"

#include <QDir>
#include <QDirIterator>

#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QCoreApplication>
#include <QTest>

#include "common/platform.h"

QString TestDataPath(const QString &name)
{
    return QStringLiteral(PELLUCOR_TEST_DATA) + u'/' + name;
}

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

void WriteScript(const QString &path, const QByteArray &body)
{
    WriteBytes(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                    | QFileDevice::ReadOther | QFileDevice::ExeOther);
}

QProcessEnvironment ConverterEnvironment(const QString &home, const QString &temp)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("TEMP"), temp.isEmpty() ? home + QStringLiteral("/temp") : temp);
    return environment;
}

bool InstallOwnFont(const QString &home)
{
    QDirIterator fonts(QStringLiteral("/usr/share/ghostscript"), {QStringLiteral("NimbusSans-Regular")}, QDir::Files,
                       QDirIterator::Subdirectories);
    if (!fonts.hasNext())
        return false;
    // Names of the same length: the font's segments keep their sizes.
    QByteArray font = ReadBytes(fonts.next());
    font.replace("NimbusSans-Regular", "PellucorOwn-Regula").replace("(Nimbus Sans)", "(Pellucor Ow)");
    QDir().mkpath(home + QStringLiteral("/.fonts"));
    WriteBytes(home + QStringLiteral("/.fonts/pellucorown.pfb"), font);
    return true;
}

void MakeFiles(const QString &root, const QStringList &relativePaths)
{
    for (const QString &relative : relativePaths) {
        const QString path = root + u'/' + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        WriteBytes(path, "%!PS\n");
    }
}

QByteArray GhostscriptReference(const QString &epsPath, int quality)
{
    QTemporaryDir folder;
    const QString output = folder.filePath(QStringLiteral("reference.jpg"));
    QProcess gs;
    gs.setProcessChannelMode(QProcess::MergedChannels);
    gs.setStandardInputFile(QProcess::nullDevice()); // as for the program's own runs
    // The Ghostscript the program runs: the system's here, the one in the
    // application folder's ps on Windows.
    const QString program = Platform::UsesWindowsPaths()
                                ? Platform::SeparateGhostscript(QStringLiteral(PELLUCOR_APP_DIR))
                                : QStringLiteral("gs");
    gs.start(program, {QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"), QStringLiteral("-dNOPAUSE"),
                       QStringLiteral("-sDEVICE=jpeg"), QStringLiteral("-dJPEGQ=%1").arg(quality),
                       QStringLiteral("-dDOINTERPOLATE"), QStringLiteral("-dGraphicsAlphaBits=4"),
                       QStringLiteral("-dEPSCrop"), QStringLiteral("-sOutputFile=") + output, epsPath});
    if (!gs.waitForFinished(120000))
        qWarning("gs did not finish on %s", qPrintable(epsPath));
    return ReadBytes(output);
}

QString FolderSnapshot(const QString &folder, const QStringList &excluded)
{
    QStringList lines;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (std::any_of(excluded.begin(), excluded.end(),
                        [&](const QString &prefix) { return info.filePath().startsWith(prefix); }))
            continue;
        if (info.isDir()) // a folder's own time changes with every file made and removed in it
            lines += info.filePath() + u'/';
        else
            lines += QStringLiteral("%1 %2 %3")
                         .arg(info.filePath())
                         .arg(info.size())
                         .arg(info.lastModified().toMSecsSinceEpoch());
    }
    lines.sort();
    return lines.join(u'\n');
}

int ErrorNumberOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const RuntimeError &error) {
        return error.number();
    }
    return 0;
}

QByteArray SlowEps()
{
    return "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 4000 4000\n%%Creator: Pellucor tests\n%%EndComments\n"
           "1 srand 0 1 30000 { pop rand 1000 mod 1000 div rand 1000 mod 1000 div rand 1000 mod 1000 div setrgbcolor\n"
           "rand 4000 mod rand 4000 mod rand 60 mod 1 add rand 60 mod 1 add rectfill } for showpage\n%%EOF\n";
}
