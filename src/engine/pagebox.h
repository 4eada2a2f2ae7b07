#pragma once

#include <QByteArray>
#include <QRectF>
#include <QString>

#include <optional>

// The box a file's image shows, in PostScript points, and the PostScript
// that gives Ghostscript's page that box or a resolution before the file
// runs, the same for a separate run ("-c PROLOGUE -f FILE") and the warm
// renderer's children.
namespace PageBox {

// The box Ghostscript crops an EPS file to: its %%HiResBoundingBox, else
// its %%BoundingBox, among the comments of its header, read as Ghostscript
// reads them. None for a file that is no EPS or whose box is missing,
// "(atend)" or malformed.
std::optional<QRectF> Declared(const QString &path);

// What Ghostscript's bbox device measured: every page's
// %%HiResBoundingBox in its messages, together. None when nothing was drawn.
std::optional<QRectF> Measured(const QByteArray &messages);

// The resolution at which `points` fits inside width × height pixels (either
// may be missing), keeping its proportions.
double ResolutionToFit(const QSizeF &points, std::optional<int> width, std::optional<int> height);

// Selects the device that measures what a file draws instead of rendering it.
QByteArray MeasurePrologue();
// The page becomes `box`, whatever the file's own: its size, and the drawing
// moved into it on every page.
QByteArray CropPrologue(const QRectF &box);
// The page is rendered at `dotsPerInch`.
QByteArray ResolutionPrologue(double dotsPerInch);

} // namespace PageBox
