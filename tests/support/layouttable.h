#pragma once

#include <QList>
#include <QRect>
#include <QString>

// Where the main window's controls stand, in pixels at 96 dots per inch
// (the layout's twips divided by 15), relative to their container.
struct ControlPlace
{
    QString name;
    QString container;
    QRect pixels;
    QString caption;
};

inline const QSize MainWindowSize(536, 538);

inline const QList<ControlPlace> &MainWindowLayout()
{
    static const QList<ControlPlace> places{
        {"PushButton5", "Form1", {8, 8, 520, 27}, "Help"},
        {"ListView1", "Form1", {8, 42, 520, 169}, ""},
        {"PushButton1", "Form1", {8, 217, 256, 27}, "Add EPS File(s)"},
        {"PushButton3", "Form1", {272, 217, 256, 27}, "Add All EPS File(s) In Folder"},
        {"PushButton6", "Form1", {8, 251, 256, 27}, "Clear List"},
        {"PushButton7", "Form1", {272, 251, 256, 27}, "Load Sample/Example Files"},
        {"Frame5", "Form1", {8, 282, 520, 121}, "Save Option"},
        {"Option1", "Frame5", {16, 20, 241, 17}, "Save results to this folder:"},
        {"Frame1", "Frame5", {32, 34, 456, 54}, ""},
        {"Text1", "Frame1", {16, 20, 378, 23}, ""},
        {"PushButton4", "Frame1", {400, 20, 40, 23}, "..."},
        {"Option2", "Frame5", {16, 94, 241, 17}, "Save results in folder of original file"},
        {"Frame3", "Form1", {8, 408, 520, 53}, "JPG Quality"},
        {"Label2", "Frame3", {16, 20, 25, 13}, "Min."},
        {"Slider1", "Frame3", {38, 20, 437, 21}, ""},
        {"Label3", "Frame3", {478, 20, 27, 15}, "Max."},
        {"PushButton2", "Form1", {8, 469, 520, 27}, "Start Converting To JPG"},
        {"ProgressBar1", "Form1", {8, 503, 520, 27}, "Progress Bar"},
    };
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
