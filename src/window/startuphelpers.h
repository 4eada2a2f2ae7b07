#pragma once

#include <QCursor>
#include <QString>

// The application title made from the product name: the last word is cut
// off, and more words while the result is longer than 40 characters. A
// name without a blank is its own title.
QString ShortenTitle(const QString &productName);

// A pointer from a cursor (.cur) or icon (.ico) file, with the hot spot the
// cursor file names (an icon's hot spot is its top-left corner). Error 481
// when the file is no picture.
QCursor LoadPointerFile(const QString &path);
