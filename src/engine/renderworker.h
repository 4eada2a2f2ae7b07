#pragma once

#include "batchsettings.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <optional>

// Renders one file at a time, each in a child process of its own that starts
// from an untouched Ghostscript: a child forked from the warm renderer, or a
// separate run of `BatchSettings::program` where one is named (and where
// processes cannot be forked). Every file gets an empty folder of its own
// below the worker's folder for its pages, messages and temporary files.
class RenderWorker : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        bool converted = false; // the file gave at least one page
        QString imagePath;      // its pages, as a separate run would write them; valid until the next render
        QString message;        // Ghostscript's own words, or why there is no image
    };

    // The worker's folder is made at its first file from `folderTemplate`
    // (as QTemporaryDir takes it), private, and removed at the end.
    RenderWorker(const QString &folderTemplate, const BatchSettings &settings, QObject *parent = nullptr);
    ~RenderWorker() override;

    // Renders one file; finished follows exactly once, unless stop comes first.
    void render(const QString &input);
    // Ends whatever runs at once.
    void stop();

signals:
    void finished(const RenderWorker::Outcome &outcome);

private:
    // Makes the folder of the next file, new and empty; why not, if it could not be.
    QString makeFileFolder();
    // The worker's folder, once made.
    QString folder() const;
    void startRenderer();
    void readRenderer();
    void rendererEnded();
    void startSeparateRun();
    void separateRunEnded(int exitCode, QProcess::ExitStatus status);
    void measureSeparateRun();
    bool separateRunOutgrown() const;
    void conclude(const QString &ending, int number);
    // What a file whose Ghostscript exited by itself gave, judged by its pages and words.
    Outcome exitedOutcome(const QByteArray &said) const;
    // Why a file that did not exit by itself has no image.
    QString failureReason(const QString &ending, int number, const QByteArray &said) const;
    QString messagesPath() const;
    QString gatherPages(QString *failure) const;

    QString m_folderTemplate;
    std::optional<QTemporaryDir> m_work;
    BatchSettings m_settings;
    std::unique_ptr<QProcess> m_process; // the warm renderer, or the separate run
    QByteArray m_answers;                // what the renderer said that is not yet read
    QString m_rendererFailure;           // why the renderer could not start, if it said
    QString m_refusal;                   // why the sandbox of a separate run was refused, if known
    QTimer m_watchdog;
    QTimer m_meter; // what a separate run has written, against the output limit
    QString m_input;
    QString m_fileFolder; // the current file's own folder
    int m_files = 0;
    bool m_busy = false;
};
