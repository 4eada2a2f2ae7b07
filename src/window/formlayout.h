#pragma once

#include <QRect>
#include <QSize>

#include <cstring>

// Where the main window's controls stand, what they say when it opens and
// what a screen reader calls them.
// The window is built from this table and its tests read it too, so the
// layout is written once. Positions are in twips (1440 to the inch, 15 to
// the pixel at 96 dots per inch), relative to the control's container.
namespace FormLayout {

struct Control
{
    const char *name;
    const char *container; // "Form1" for the window itself
    int left, top, width, height;
    const char *caption; // "" for none
    // What a screen reader announces it by, where its caption does not say
    // it; "" where the caption (or, for a frame, its title) does.
    const char *accessibleName;
};

inline constexpr int WidthTwips = 8040;
inline constexpr int HeightTwips = 8070;

// In the order they are made: a container before what it holds.
inline constexpr Control Controls[] = {
    {"PushButton5", "Form1", 120, 120, 7800, 405, "Help", ""},
    {"ListView1", "Form1", 120, 630, 7800, 2535, "", "EPS File(s)"},
    {"PushButton1", "Form1", 120, 3255, 3840, 405, "Add EPS File(s)", ""},
    {"PushButton3", "Form1", 4080, 3255, 3840, 405, "Add All EPS File(s) In Folder", ""},
    {"PushButton6", "Form1", 120, 3765, 3840, 405, "Clear List", ""},
    {"PushButton7", "Form1", 4080, 3765, 3840, 405, "Load Sample/Example Files", ""},
    {"Frame5", "Form1", 120, 4230, 7800, 1815, "Save Option", ""},
    {"Option1", "Frame5", 240, 300, 3615, 255, "Save results to this folder:", ""},
    {"Frame1", "Frame5", 480, 510, 6840, 810, "", ""},
    {"Text1", "Frame1", 240, 300, 5670, 345, "", "Output folder"},
    {"PushButton4", "Frame1", 6000, 300, 600, 345, "...", "Choose output folder"},
    {"Option2", "Frame5", 240, 1410, 3615, 255, "Save results in folder of original file", ""},
    {"Frame3", "Form1", 120, 6120, 7800, 795, "JPG Quality", ""},
    {"Label2", "Frame3", 240, 300, 375, 195, "Min.", ""},
    {"Slider1", "Frame3", 570, 300, 6555, 315, "", "JPG Quality"},
    {"Label3", "Frame3", 7170, 300, 405, 225, "Max.", ""},
    {"PushButton2", "Form1", 120, 7030, 7800, 405, "Start Converting To JPG", ""},
    {"ProgressBar1", "Form1", 120, 7550, 7800, 405, "Progress Bar", "Progress"},
};

// Twips to whole pixels, rounded half up.
constexpr int Pixels(int twips)
{
    return (twips * 2 + 15) / 30;
}

inline QRect PixelRect(const Control &control)
{
    return QRect(Pixels(control.left), Pixels(control.top), Pixels(control.width), Pixels(control.height));
}

inline QSize WindowPixels()
{
    return QSize(Pixels(WidthTwips), Pixels(HeightTwips));
}

// The row of a control; nullptr for a name the table does not hold.
inline const Control *Find(const char *name)
{
    for (const Control &control : Controls) {
        if (std::strcmp(control.name, name) == 0)
            return &control;
    }
    return nullptr;
}

} // namespace FormLayout
