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

#ifdef Q_OS_UNIX
#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

void WriteBytesNamed(const QByteArray &nativePath, const QByteArray &bytes)
{
    const int descriptor = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0 || ::write(descriptor, bytes.constData(), size_t(bytes.size())) != bytes.size())
        qFatal("cannot write %s", nativePath.toHex().constData());
    ::close(descriptor);
}

void MakeFolderNamed(const QByteArray &nativePath)
{
    if (::mkdir(nativePath.constData(), 0755) != 0)
        qFatal("cannot make the folder %s", nativePath.toHex().constData());
}

NamedTreeRemover::~NamedTreeRemover()
{
    ::nftw(
        m_path.constData(),
        [](const char *path, const struct stat *, int kind, struct FTW *) {
            return kind == FTW_DP ? ::rmdir(path) : ::unlink(path);
        },
        16, FTW_DEPTH | FTW_PHYS);
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
    gs.start(QStringLiteral("gs"),
             {QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"), QStringLiteral("-dNOPAUSE"),
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
            lines += QStringLiteral("%1 %2 %3").arg(info.filePath()).arg(info.size())
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

bool RunningAsRoot()
{
#ifdef Q_OS_UNIX
    return ::geteuid() == 0;
#else
    return false;
#endif
}

bool ProcessAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    const QByteArray stat = ReadBytes(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.isEmpty())
        return false;
    // "pid (name) S ...": the state follows the closing parenthesis.
    const qsizetype close = stat.lastIndexOf(')');
    return close > 0 && close + 2 < stat.size() && stat.at(close + 2) != 'Z' && stat.at(close + 2) != 'X';
}

bool ProcessAliveByFile(const QString &pidFile)
{
    return ProcessAlive(ReadBytes(pidFile).trimmed().toLongLong());
}

OrdinaryUserRun RerunAsOrdinaryUser(const char *testClass)
{
    OrdinaryUserRun run;
    QString function = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        function += u':' + QString::fromLocal8Bit(QTest::currentDataTag());
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"), {QStringLiteral("--user"), QStringLiteral("--map-user=1000"),
                                            QStringLiteral("--map-group=1000"), QCoreApplication::applicationFilePath(),
                                            QString::fromLatin1(testClass), function});
    if (!child.waitForFinished(300000)) {
        child.kill();
        run.output = QStringLiteral("the run as an ordinary user did not end");
        return run;
    }
    run.output = QString::fromLocal8Bit(child.readAll());
    if (child.exitStatus() != QProcess::NormalExit || run.output.contains(QLatin1String("unshare:"))) {
        run.skipped = true;
        run.output = QStringLiteral("cannot run as an ordinary user here: ") + run.output.trimmed();
        return run;
    }
    run.passed = child.exitCode() == 0;
    return run;
}

QList<qint64> ProcessesIn(const QString &folderPrefix, const QByteArray &name)
{
    QList<qint64> found;
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &process : processes) {
        bool isNumber = false;
        const qint64 pid = process.toLongLong(&isNumber);
        if (!isNumber || ReadBytes(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed() != name)
            continue;
        const QString folder = QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();
        if (folder.startsWith(folderPrefix) && ProcessAlive(pid))
            found.append(pid);
    }
    return found;
}

qint64 FindGhostscriptIn(const QString &folderPrefix, const QByteArray &name)
{
    const QList<qint64> found = ProcessesIn(folderPrefix, name);
    return found.isEmpty() ? 0 : found.first();
}

QString PageBeingWritten(const QString &folderPrefix, qint64 *child)
{
    for (const qint64 pid : ProcessesIn(folderPrefix, "pellucor-render")) {
        const QString folder = QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();
        const QString page = QStringLiteral("/proc/%1/root%2/p000001.jpg").arg(pid).arg(folder);
        if (QFileInfo::exists(page)) {
            if (child)
                *child = pid;
            return page;
        }
    }
    return {};
}

QByteArray SlowEps()
{
    return "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 4000 4000\n%%Creator: Pellucor tests\n%%EndComments\n"
           "1 srand 0 1 30000 { pop rand 1000 mod 1000 div rand 1000 mod 1000 div rand 1000 mod 1000 div setrgbcolor\n"
           "rand 4000 mod rand 4000 mod rand 60 mod 1 add rand 60 mod 1 add rectfill } for showpage\n%%EOF\n";
}

LoopbackListener::LoopbackListener()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(m_fd, 4) != 0
        || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        qFatal("no listener on 127.0.0.1");
    m_port = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener()
{
    ::close(m_fd);
}

bool LoopbackListener::connectionWaiting() const
{
    const int accepted = ::accept(m_fd, nullptr, nullptr);
    if (accepted >= 0)
        ::close(accepted);
    return accepted >= 0;
}
