#include "startuphelpers.h"

#include "common/runtimeerror.h"

#include <QFile>
#include <QPixmap>
#include <QtEndian>

QString ShortenTitle(const QString &productName)
{
    QString title = productName;
    if (!title.contains(u' '))
        return title;
    do {
        title.truncate(title.lastIndexOf(u' '));
    } while (title.size() > 40 && title.contains(u' '));
    return title;
}

QCursor LoadPointerFile(const QString &path)
{
    const QPixmap image(path);
    if (image.isNull())
        throw RuntimeError(481, QStringLiteral("Invalid picture: %1").arg(path), QStringLiteral("LoadPicture"));
    // A cursor file keeps the hot spot of its first image in the directory
    // entry (type 2); Qt reads the image but not the hot spot.
    int hotX = 0, hotY = 0;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray head = file.read(22);
        if (head.size() == 22 && qFromLittleEndian<quint16>(head.constData() + 2) == 2) {
            hotX = qFromLittleEndian<quint16>(head.constData() + 10);
            hotY = qFromLittleEndian<quint16>(head.constData() + 12);
        }
    }
    return QCursor(image, qBound(0, hotX, image.width() - 1), qBound(0, hotY, image.height() - 1));
}
