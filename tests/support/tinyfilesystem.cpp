#include "tinyfilesystem.h"

#include "testfiles.h"

#include <QProcess>

TinyFileSystem::TinyFileSystem(int kilobytes)
{
    if (!RunningAsRoot()) {
        m_why = QStringLiteral("mounting a small file system needs root");
        return;
    }
    QProcess mount;
    mount.setProcessChannelMode(QProcess::MergedChannels);
    mount.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                          QStringLiteral("size=%1k").arg(kilobytes), QStringLiteral("tmpfs"),
                                          m_folder.path()});
    m_mounted = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit
                && mount.exitCode() == 0;
    if (!m_mounted)
        m_why = QStringLiteral("mount refused: ") + QString::fromLocal8Bit(mount.readAll()).trimmed();
}

TinyFileSystem::~TinyFileSystem()
{
    if (m_mounted)
        QProcess::execute(QStringLiteral("umount"), {m_folder.path()});
}
