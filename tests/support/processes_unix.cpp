// What the tests ask of processes, names and the network on Linux.
#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool RunningAsRoot()
{
    return ::geteuid() == 0;
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
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("--user"), QStringLiteral("--map-user=1000"), QStringLiteral("--map-group=1000"),
                 QCoreApplication::applicationFilePath(), QString::fromLatin1(testClass), function});
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
