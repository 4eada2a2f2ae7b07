#pragma once

#include "batchsettings.h"
#include "runending.h"
#include "warmrenderer.h"

#include <QByteArray>
#include <QObject>
#include <QRectF>
#include <QStringList>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

// Renders one file at a time, each in a child process of its own that starts
// from an untouched Ghostscript: a child forked from the run's warm
// renderer, or a separate run of `BatchSettings::program` where one is named
// (and where processes cannot be forked). Every pass over a file gets an
// empty folder of its own below the run's folder for its pages, messages
// and temporary files.
class RenderWorker : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        bool converted = false; // the file gave at least one page
        // Its pages in one file, as a separate run would write them, or with
        // eachPage a file per page, in `folder`.
        QStringList images;
        QString folder;         // the file's own folder: whoever takes the outcome removes it
        QString message;        // Ghostscript's own words, or why there is no image
        QString box;            // cropped to the drawing: which box the image shows ("drawing", "file", "page")
        QStringList warnings;   // the fonts Ghostscript substituted
    };

    // Its files' folders go in `folder`; `renderer` renders them unless the
    // settings name a separate program.
    RenderWorker(WorkFolder &folder, WarmRenderer *renderer, const BatchSettings &settings, QObject *parent = nullptr);
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
    void rendererAnswered(int id, RunEnding ending, int number);
    void startSeparateRun();
    void separateRunEnded(int exitCode, QProcess::ExitStatus status);
    void measureSeparateRun();
    bool separateRunOutgrown() const;
    void conclude(RunEnding ending, int number);
    // What a file whose Ghostscript exited by itself gave, judged by its pages and words.
    Outcome exitedOutcome(const QByteArray &said) const;
    // Why a file that did not exit by itself has no image.
    QString failureReason(RunEnding ending, int number, const QByteArray &said) const;
    QString messagesPath() const;
    QStringList gatherPages(QString *failure) const;
    // A separate run's PPM pages become JPEGs with full colour detail; "" or why not.
    QString encodePages(int pages) const;

    WorkFolder &m_folder;
    WarmRenderer *m_renderer;
    BatchSettings m_settings;
    std::unique_ptr<QProcess> m_process; // the separate run
    int m_request = 0;                   // the renderer's id of this pass
    QString m_runFailure;                // why a separate run could not start
    QString m_refusal;                   // why the sandbox of a separate run was refused, if known
    QTimer m_watchdog;
    QTimer m_meter; // what a separate run has written, against the output limit
    QString m_input;
    QByteArray m_prologue;  // run before the file in this pass
    bool m_measuring = false; // this pass measures the drawing
    QString m_box;          // which box the image shows, when cropped to the drawing
    double m_resolution = 72; // dots per inch of this file's image
    QString m_fileFolder; // the current pass's own folder
    bool m_busy = false;
};
