#pragma once

#include "shell32.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

class GhostscriptInterpreter;

// One file to convert and where its image goes.
struct BatchItem
{
    QString input;
    QString output;
};

// What became of one file.
struct BatchReport
{
    int index = 0;
    bool converted = false;
    QString message; // Ghostscript's words or the reason, when there are any
};

struct BatchSettings
{
    int quality = 75;
    std::optional<int> resolution; // dots per inch; Ghostscript's default without it
    int jobs = 1;
    std::chrono::milliseconds timeLimit = Shell32::JobTimeLimit;
    QString program = QStringLiteral("gs");
    QString workRoot; // the interpreters' folders go below it
};

// Converts many files with a few Ghostscript interpreters at once, each
// rendering file after file, with the bytes a separate run of each file
// would give. Results replace existing files atomically; where several
// inputs share an output name the later one's image wins, as in a run one
// after another.
class BatchEngine : public QObject
{
    Q_OBJECT

public:
    BatchEngine(QList<BatchItem> items, BatchSettings settings, QObject *parent = nullptr);
    ~BatchEngine() override;

    // Converts everything; returns when every file has its report.
    void Run();

    // The switches a separate run of one file is given.
    static QStringList SwitchesFor(const BatchSettings &settings);

signals:
    void ItemDone(const BatchReport &report);

private:
    void Dispatch(GhostscriptInterpreter *interpreter);
    void Received(GhostscriptInterpreter *interpreter, int index, bool converted, const QString &image,
                  const QString &message);
    void Commit(int index, const QString &image, const QString &message);
    void Report(int index, bool converted, const QString &message);

    QList<BatchItem> m_items;
    BatchSettings m_settings;
    QList<GhostscriptInterpreter *> m_interpreters;
    QHash<GhostscriptInterpreter *, int> m_working; // which file each interpreter renders
    int m_next = 0;
    int m_reported = 0;
    QString m_heldFolder;
    // Inputs sharing an output: their results are committed in input order.
    QHash<QString, QList<int>> m_sharers;
    QHash<int, std::pair<QString, QString>> m_held; // index -> (image or "", message)
    class QEventLoop *m_loop = nullptr;
};
