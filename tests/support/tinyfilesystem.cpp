#include "tinyfilesystem.h"

#include "testfiles.h"

#include <QFile>
#include <QProcess>

TinyFileSystem::TinyFileSystem(int kilobytes)
{
    if (!RunningAsRoot()) {
        m_why = QStringLiteral("mounting a small file system needs root");
        return;
    }
    QProcess mount;
    mount.setProcessChannelMode(QProcess::MergedChannels);
    mount.start(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=%1k").arg(kilobytes), QStringLiteral("tmpfs"), m_folder.path()});
    m_mounted = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
    if (!m_mounted)
        m_why = QStringLiteral("mount refused: ") + QString::fromLocal8Bit(mount.readAll()).trimmed();
}

TinyFileSystem::~TinyFileSystem()
{
    if (m_mounted)
        QProcess::execute(QStringLiteral("umount"), {m_folder.path()});
}

void TinyFileSystem::fill()
{
    QFile filler(m_folder.filePath(QStringLiteral("filler")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray block(512, 'f');
    while (filler.write(block) == block.size()) {
    }
    // Single bytes too, so that even the last partial block is taken.
    while (filler.write("f", 1) == 1) {
    }
}
