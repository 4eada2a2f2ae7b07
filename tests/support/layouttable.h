#pragma once

#include "window/formlayout.h"

#include <QList>
#include <QRect>
#include <QString>

// Where the main window's controls stand, in pixels at 96 dots per inch,
// relative to their container: the window's own layout table.
struct ControlPlace
{
    QString name;
    QString container;
    QRect pixels;
    QString caption;
};

inline const QSize MainWindowSize = FormLayout::WindowPixels();

inline const QList<ControlPlace> &MainWindowLayout()
{
    static const QList<ControlPlace> places = [] {
        QList<ControlPlace> rows;
        for (const FormLayout::Control &control : FormLayout::Controls)
            rows.append({QString::fromLatin1(control.name), QString::fromLatin1(control.container),
                         FormLayout::PixelRect(control), QString::fromLatin1(control.caption)});
        return rows;
    }();
    return places;
}

// The rectangle of a control's container, in the same terms (Form1 is the
// client area itself).
inline QRect ContainerPixels(const QString &container)
{
    if (container == QLatin1String("Form1"))
        return QRect(QPoint(0, 0), MainWindowSize);
    for (const ControlPlace &place : MainWindowLayout()) {
        if (place.name == container)
            return place.pixels;
    }
    return {};
}
