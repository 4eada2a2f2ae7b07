#pragma once

#include "batchsettings.h"
#include "runending.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QHash>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

// The run's private folder below the work root, made at its first file, and
// a new, empty folder in it for each pass over a file: folders of a name no
// earlier run can have had, made here and never taken over (one a killed
// run left behind holds another file's pages).
class WorkFolder
{
public:
    explicit WorkFolder(const QString &folderTemplate) : m_template(folderTemplate) {}

    // The next pass's folder; "" with the reason when it cannot be made.
    QString makeFileFolder(QString *failure);
    // The run's folder, once made.
    QString path() const { return m_root ? m_root->path() : QString(); }

private:
    QString m_template;
    std::optional<QTemporaryDir> m_root;
    int m_files = 0;
};

// The one warm renderer of a run, shared by its workers: it renders as many
// files at once as the run has jobs, each request answered by its id as
// soon as its child has ended, so that no file waits for another's. Started
// at the first request; one that dies (a crash, the memory killer) fails
// the files it may have been rendering, and is replaced for those it had
// not started (it starts them in the order they came) and the next.
class WarmRenderer : public QObject
{
    Q_OBJECT

public:
    WarmRenderer(const BatchSettings &settings, WorkFolder &folder, QObject *parent = nullptr);
    ~WarmRenderer() override;

    // Sends one pass over `input`, in `fileFolder`; its answer comes as
    // answered with the id returned.
    int request(const QString &fileFolder, const QString &input, const QByteArray &prologue);
    // Ends the renderer at once, its children with it; the requests it had
    // are answered as ended abnormally. With `waitForChildren`, it is first
    // asked to end its children and waits for them to go.
    void stop(bool waitForChildren = true);
    // Why the renderer could not start, if it said.
    QString failure() const { return m_failure; }

signals:
    void answered(int id, RunEnding ending, int number);

private:
    bool start();
    void send(int id);
    void read();
    void ended();
    void answerEveryWaiting(RunEnding ending);
    // Answers `id` with NotStarted once the caller has had its id.
    void answerNotStartedLater(int id);

    BatchSettings m_settings;
    WorkFolder &m_folder;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_answers; // what the renderer said that is not yet read
    QString m_failure;
    QList<int> m_waiting;             // requests sent and not yet answered, in the order sent
    QHash<int, QByteArray> m_requests; // what each of them said
    int m_lastId = 0;
};
