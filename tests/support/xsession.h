#pragma once

#include <QImage>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

// Runs a command-line tool and returns what it printed; empty on failure.
QString RunTool(const QString &program, const QStringList &arguments, int timeoutMs = 15000);

// True when an X display is there to start the program on.
bool HaveDisplay();

// One X window of a tree listing, with its geometry relative to its parent.
struct XWindow
{
    quint64 id = 0;
    int depth = 0;
    QRect geometry;
    int parent = -1; // index into the listing; -1 for the window listed
};

// The pointer image the X server shows right now.
struct PointerImage
{
    QImage image; // premultiplied ARGB
    QPoint hotSpot;
};
PointerImage CurrentPointer();

// `xwininfo -tree` of `window`, flattened in listing order.
QList<XWindow> WindowTree(quint64 window);

// The built program, started on the test's display like a user would start
// it, and driven from outside with xdotool.
class RunningProgram
{
public:
    explicit RunningProgram(const QProcessEnvironment &environment, const QStringList &arguments = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram &) = delete;
    RunningProgram &operator=(const RunningProgram &) = delete;

    // Waits until the main window is mapped; its id, or 0.
    quint64 waitForMainWindow(int timeoutMs = 30000);
    quint64 mainWindow() const { return m_window; }
    // Absolute position and size of a window on the screen.
    static QRect Geometry(quint64 window);
    // Visible windows of this program whose title is `title`, newest last.
    QList<quint64> windowsTitled(const QString &title) const;
    // Waits for a window titled `title` other than the main window and those in `known`.
    quint64 waitForDialog(const QString &title, int timeoutMs = 30000, const QList<quint64> &known = {}) const;

    // Clicks at a point of the main window's client area.
    void click(const QPoint &clientPoint) const;
    // Moves the pointer to a point of the main window's client area.
    void moveTo(const QPoint &clientPoint) const;
    // Moves the pointer to and fro at a point of the main window's client
    // area, so that the window sees it move, until the pointer's image
    // satisfies `shows`; false when it does not within the time.
    bool waitForPointer(const QPoint &clientPoint, const std::function<bool(const QImage &)> &shows,
                        int timeoutMs = 30000) const;
    // Moves the main window to a point of the screen.
    void moveWindow(const QPoint &screenPoint) const;
    // Presses keys ("ctrl+a", "Return") or types text, into the focused window.
    void key(const QString &keys) const;
    void type(const QString &text) const;
    // Gives the keyboard to a window (there is no window manager to do it).
    static void focus(quint64 window);
    // The window that has the keyboard; 0 when none has.
    static quint64 FocusedWindow();
    bool waitForExit(int timeoutMs = 30000);
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    quint64 m_window = 0;
};
