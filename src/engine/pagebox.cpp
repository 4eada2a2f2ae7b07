#include "pagebox.h"

#include <QFile>
#include <QList>
#include <QtEndian>

#include <cmath>

namespace PageBox {

namespace {

// No header of comments is longer; a file that never ends them is read no further.
constexpr qint64 HeaderLimit = 1 << 20;
// Farther out than any page goes: a box beyond it is no box.
constexpr double FarthestPoint = 1e6;

// The four numbers of a box after its comment's name, as Ghostscript takes
// them: the first four words, which must all be numbers making a box that
// is not empty.
std::optional<QRectF> BoxOf(const QByteArray &numbers)
{
    const QList<QByteArray> words = numbers.simplified().split(' ');
    if (words.size() < 4)
        return std::nullopt;
    double value[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        value[i] = words.at(i).toDouble(&ok);
        if (!ok || !std::isfinite(value[i]) || std::fabs(value[i]) > FarthestPoint)
            return std::nullopt;
    }
    if (value[2] <= value[0] || value[3] <= value[1])
        return std::nullopt;
    return QRectF(value[0], value[1], value[2] - value[0], value[3] - value[1]);
}

// Where the PostScript of a file begins: after the binary header of an
// MS-DOS EPS file, at its start otherwise.
qint64 PostScriptStart(QFile &file)
{
    const QByteArray header = file.peek(12);
    if (header.size() < 12 || !header.startsWith("\xC5\xD0\xD3\xC6"))
        return 0;
    return qFromLittleEndian<quint32>(header.constData() + 4);
}

QString FormatNumber(double value)
{
    return QString::number(value, 'f', 4);
}

} // namespace

std::optional<QRectF> Declared(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(PostScriptStart(file)))
        return std::nullopt;
    // Ghostscript treats a file as EPS by its first line alone.
    const QByteArray first = file.peek(23);
    if (!first.startsWith("%!PS-Adobe-") || !first.contains("EPSF"))
        return std::nullopt;
    std::optional<QRectF> box, hiResBox;
    const QByteArray header = file.read(HeaderLimit);
    for (QByteArray line : header.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("%%EndComments") || line.startsWith("%%BeginProlog") || line.startsWith("%%BeginSetup"))
            break;
        // The first of each counts, and the high-resolution one before the other.
        if (!box && line.startsWith("%%BoundingBox:"))
            box = BoxOf(line.mid(14));
        else if (!hiResBox && line.startsWith("%%HiResBoundingBox:"))
            hiResBox = BoxOf(line.mid(19));
    }
    return hiResBox ? hiResBox : box;
}

std::optional<QRectF> Measured(const QByteArray &messages)
{
    std::optional<QRectF> drawn;
    for (const QByteArray &line : messages.split('\n')) {
        if (!line.startsWith("%%HiResBoundingBox:"))
            continue;
        if (const std::optional<QRectF> page = BoxOf(line.mid(19)))
            drawn = drawn ? drawn->united(*page) : *page;
    }
    return drawn;
}

double ResolutionToFit(const QSizeF &points, std::optional<int> width, std::optional<int> height)
{
    double resolution = INFINITY;
    if (width)
        resolution = *width * 72.0 / points.width();
    if (height)
        resolution = std::min(resolution, *height * 72.0 / points.height());
    return resolution;
}

QByteArray MeasurePrologue()
{
    return QByteArrayLiteral("(bbox) selectdevice");
}

QByteArray CropPrologue(const QRectF &box)
{
    return QStringLiteral("<< /PageSize [%1 %2] /BeginPage { pop %3 %4 translate } >> setpagedevice")
        .arg(FormatNumber(box.width()), FormatNumber(box.height()), FormatNumber(-box.left()), FormatNumber(-box.top()))
        .toLatin1();
}

QByteArray ResolutionPrologue(double dotsPerInch)
{
    return QStringLiteral("<< /HWResolution [%1 %1] >> setpagedevice").arg(FormatNumber(dotsPerInch)).toLatin1();
}

} // namespace PageBox
