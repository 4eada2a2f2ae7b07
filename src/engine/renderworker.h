#pragma once

#include "batchsettings.h"

#include <QByteArray>
#include <QObject>
#include <QRectF>
#include <QStringList>
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
        // Its pages in one file, as a separate run would write them, or with
        // eachPage a file per page; valid until the next render.
        QStringList images;
        QString message;        // Ghostscript's own words, or why there is no image
        QString box;            // cropped to the drawing: which box the image shows ("drawing", "file", "page")
        QStringList warnings;   // the fonts Ghostscript substituted
    };

    // The worker's folder is made at its first file from `folderTemplate`
    // (as QTemporaryDir takes it), private, and removed at the end.
    RenderWorker(const QString &folderTemplate, const BatchSettings &settings, QObject *parent = nullptr);
    ~RenderWorker() override;

    // Renders one file (first measuring its drawing, when cropped to it);
    // finished follows exactly once, unless stop comes first.
    void render(const QString &input);
    // Ends whatever runs at once.
    void stop();

signals:
    void finished(const RenderWorker::Outcome &outcome);

private:
    // Renders the file with the PostScript that gives its page its box and
    // resolution, once the drawing is measured where that is asked for.
    void renderWithBox(const std::optional<QRectF> &drawn);
    // That PostScript; none, with the reason, when the image cannot be sized.
    std::optional<QByteArray> prologueFor(const std::optional<QRectF> &drawn, QString *failure);
    // One run of Ghostscript over the file, `prologue` first, in a new folder.
    void renderPass(const QByteArray &prologue);
    void fail(const QString &reason);
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
    QStringList gatherPages(QString *failure) const;
    // A separate run's PPM pages become JPEGs with full colour detail; "" or why not.
    QString encodePages(int pages) const;

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
    QByteArray m_prologue;  // run before the file in this pass
    bool m_measuring = false; // this pass measures the drawing
    QString m_box;          // which box the image shows, when cropped to the drawing
    double m_resolution = 72; // dots per inch of this file's image
    QString m_fileFolder; // the current file's own folder
    int m_files = 0;
    bool m_busy = false;
};
