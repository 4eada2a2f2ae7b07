#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <memory>

// One Ghostscript interpreter that renders file after file, each inside a
// save and restore of its own on a cleared page, so that what one file does
// cannot reach the next. A file with a PostScript error is caught inside the
// interpreter; one that ends it, or runs past the time limit, costs a
// restart. Every page goes to a numbered file in the interpreter's own
// folder, and a marker with the page count after each file tells which
// pages are whose.
class GhostscriptInterpreter : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        bool converted = false; // the file gave at least one page
        QString imagePath;      // its pages, as a separate run would write them; valid until the next Render
        QString message;        // Ghostscript's own words, or why there is no image
    };

    // `folder` is this interpreter's alone; it is made private and removed at the end.
    GhostscriptInterpreter(const QString &folder, const QString &program, const QStringList &switches,
                           std::chrono::milliseconds timeLimit, QObject *parent = nullptr);
    ~GhostscriptInterpreter() override;

    // Renders one file; Finished follows exactly once.
    void Render(const QString &input);

    // An interpreter's memory creeps up with every file it renders: after
    // this many a fresh one takes over, which costs one start-up.
    static constexpr int FilesPerInterpreter = 400;

    // The arguments Ghostscript starts with, after the switches.
    static QStringList ArgumentsFor(const QString &folder);

signals:
    void Finished(const GhostscriptInterpreter::Outcome &outcome);

private:
    enum class Ending { Done, Ended, Crashed, TimedOut };

    void Start();
    void Stop();
    void SendCommands();
    void ReadOutput();
    void ProcessEnded();
    void Conclude(Ending ending, int pageCount);
    QString PagePath(int page) const;
    int LastPageOnDisk() const;
    QString MessageFrom(const QByteArray &text) const;

    QString m_folder;
    QString m_program;
    QStringList m_switches;
    std::chrono::milliseconds m_timeLimit;
    std::unique_ptr<QProcess> m_process;
    QTimer m_limit;
    QByteArray m_token;
    QByteArray m_output;    // what the interpreter said during the current file
    int m_pagesBefore = 0;  // pages the running interpreter had output before the current file
    int m_filesRendered = 0; // by the running interpreter
    bool m_busy = false;
};
