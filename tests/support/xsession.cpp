#include "xsession.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

QString RunTool(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

bool HaveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

QList<XWindow> WindowTree(quint64 window)
{
    // "     0x200035 "name": ("res" "Class")  520x27+8+503  +380+746"
    static const QRegularExpression
        line(QStringLiteral(R"(^(\s+)(0x[0-9a-f]+) .*\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+\+-?\d+\+-?\d+\s*$)"));
    QList<XWindow> windows;
    QList<int> openAtDepth;
    const QStringList lines = RunTool(QStringLiteral("xwininfo"),
                                      {QStringLiteral("-tree"), QStringLiteral("-id"), QString::number(window)})
                                  .split(u'\n');
    for (const QString &text : lines) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch())
            continue;
        XWindow entry;
        entry.id = match.captured(2).toULongLong(nullptr, 16);
        entry.depth = (match.captured(1).size() - 5) / 3 + 1; // children of the listed window are indented 5
        entry.geometry = QRect(match.captured(5).toInt(), match.captured(6).toInt(), match.captured(3).toInt(),
                               match.captured(4).toInt());
        while (openAtDepth.size() >= entry.depth)
            openAtDepth.removeLast();
        entry.parent = openAtDepth.isEmpty() ? -1 : openAtDepth.last();
        openAtDepth.append(int(windows.size()));
        windows.append(entry);
    }
    return windows;
}

RunningProgram::RunningProgram(const QProcessEnvironment &environment, const QStringList &arguments)
{
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(PELLUCOR_APP_DIR "/pellucor"), arguments);
    m_process.waitForStarted();
}

RunningProgram::~RunningProgram()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
}

QList<quint64> RunningProgram::windowsTitled(const QString &title) const
{
    QList<quint64> windows;
    const QString found = RunTool(QStringLiteral("xdotool"),
                                  {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                                   QStringLiteral("--pid"), QString::number(m_process.processId()),
                                   QStringLiteral("--name"), u'^' + QRegularExpression::escape(title) + u'$'});
    for (const QString &id : found.split(u'\n', Qt::SkipEmptyParts))
        windows.append(id.toULongLong());
    return windows;
}

quint64 RunningProgram::waitForMainWindow(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && m_process.state() == QProcess::Running) {
        for (quint64 window : windowsTitled(QStringLiteral("Pellucor"))) {
            if (Geometry(window).size() == QSize(536, 538)) {
                m_window = window;
                return m_window;
            }
        }
        QThread::msleep(100);
    }
    qWarning().noquote() << "main window not found; pid" << m_process.processId() << "state" << m_process.state()
                         << RunTool(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    return 0;
}

quint64 RunningProgram::waitForDialog(const QString &title, int timeoutMs, const QList<quint64> &known) const
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        for (quint64 window : windowsTitled(title)) {
            if (window != m_window && !known.contains(window))
                return window;
        }
        QThread::msleep(100);
    }
    return 0;
}

QRect RunningProgram::Geometry(quint64 window)
{
    const QString info = RunTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    const auto number = [&](const QString &label) {
        const QRegularExpression pattern(QRegularExpression::escape(label) + QStringLiteral(R"(:\s+(-?\d+))"));
        return pattern.match(info).captured(1).toInt();
    };
    return QRect(number(QStringLiteral("Absolute upper-left X")), number(QStringLiteral("Absolute upper-left Y")),
                 number(QStringLiteral("Width")), number(QStringLiteral("Height")));
}

PointerImage CurrentPointer()
{
    PointerImage pointer;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return pointer;
    }
    std::free(xcb_xfixes_query_version_reply(connection, xcb_xfixes_query_version(connection, 4, 0), nullptr));
    xcb_xfixes_get_cursor_image_reply_t *reply =
        xcb_xfixes_get_cursor_image_reply(connection, xcb_xfixes_get_cursor_image(connection), nullptr);
    if (reply) {
        pointer.hotSpot = QPoint(reply->xhot, reply->yhot);
        QImage image(reply->width, reply->height, QImage::Format_ARGB32_Premultiplied);
        const uint32_t *pixels = xcb_xfixes_get_cursor_image_cursor_image(reply);
        for (int y = 0; y < reply->height; ++y)
            for (int x = 0; x < reply->width; ++x)
                image.setPixel(x, y, pixels[y * reply->width + x]);
        pointer.image = image;
        std::free(reply);
    }
    xcb_disconnect(connection);
    return pointer;
}

void RunningProgram::moveTo(const QPoint &clientPoint) const
{
    RunTool(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(m_window),
             QString::number(clientPoint.x()), QString::number(clientPoint.y())});
}

bool RunningProgram::waitForPointer(const QPoint &clientPoint, const std::function<bool(const QImage &)> &shows,
                                    int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    for (int step = 0; clock.elapsed() < timeoutMs; ++step) {
        moveTo(clientPoint + QPoint(step % 2, 0));
        if (shows(CurrentPointer().image))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void RunningProgram::click(const QPoint &clientPoint) const
{
    RunTool(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(m_window),
             QString::number(clientPoint.x()), QString::number(clientPoint.y()), QStringLiteral("click"),
             QStringLiteral("1")});
}

void RunningProgram::moveWindow(const QPoint &screenPoint) const
{
    RunTool(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QString::number(m_window),
                                        QString::number(screenPoint.x()), QString::number(screenPoint.y())});
}

void RunningProgram::key(const QString &keys) const
{
    RunTool(QStringLiteral("xdotool"),
            QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")}
                + keys.split(u' ', Qt::SkipEmptyParts));
}

void RunningProgram::focus(quint64 window)
{
    RunTool(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QString::number(window)});
}

quint64 RunningProgram::FocusedWindow()
{
    // -f: the window X gives the keys to, not the top-level window above it.
    return RunTool(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus"), QStringLiteral("-f")})
        .trimmed()
        .toULongLong();
}

void RunningProgram::type(const QString &text) const
{
    RunTool(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text});
}

bool RunningProgram::waitForExit(int timeoutMs)
{
    return m_process.waitForFinished(timeoutMs);
}
