#include "batchengine.h"

#include "ghostscriptinterpreter.h"
#include "ghostscriptjob.h"

#include "common/filesystem.h"
#include "common/runtimeerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>

BatchEngine::BatchEngine(QList<BatchItem> items, BatchSettings settings, QObject *parent)
    : QObject(parent), m_items(std::move(items)), m_settings(std::move(settings))
{
    QHash<QString, QList<int>> byOutput;
    for (int i = 0; i < m_items.size(); ++i)
        byOutput[m_items.at(i).output].append(i);
    for (auto it = byOutput.cbegin(); it != byOutput.cend(); ++it) {
        if (it.value().size() > 1)
            m_sharers.insert(it.key(), it.value());
    }
}

BatchEngine::~BatchEngine()
{
    qDeleteAll(m_interpreters);
    if (!m_heldFolder.isEmpty())
        QDir(m_heldFolder).removeRecursively();
}

QStringList BatchEngine::SwitchesFor(const BatchSettings &settings)
{
    QStringList switches = GhostscriptJob::GhostscriptSwitches(settings.quality).split(u' ');
    if (settings.resolution)
        switches << QStringLiteral("-r%1").arg(*settings.resolution);
    return switches;
}

void BatchEngine::Run()
{
    if (m_items.isEmpty())
        return;
    const QString stem = QDir(m_settings.workRoot)
                             .filePath(QStringLiteral("pellucor-batch-%1").arg(QCoreApplication::applicationPid()));
    m_heldFolder = stem + QStringLiteral("-held");
    FileSystem::EnsurePrivateFolder(m_heldFolder);

    const int jobs = qBound(1, m_settings.jobs, int(m_items.size()));
    for (int k = 0; k < jobs; ++k) {
        auto *interpreter = new GhostscriptInterpreter(stem + QStringLiteral("-%1").arg(k), m_settings.program,
                                                       SwitchesFor(m_settings), m_settings.timeLimit);
        m_interpreters.append(interpreter);
        // Queued: a file that fails before Ghostscript sees it must not recurse into the next.
        connect(
            interpreter, &GhostscriptInterpreter::Finished, this,
            [this, interpreter](const GhostscriptInterpreter::Outcome &outcome) {
                const int index = m_working.take(interpreter);
                Received(interpreter, index, outcome.converted, outcome.imagePath, outcome.message);
            },
            Qt::QueuedConnection);
    }
    QEventLoop loop;
    m_loop = &loop;
    for (GhostscriptInterpreter *interpreter : m_interpreters)
        Dispatch(interpreter);
    if (m_reported < m_items.size())
        loop.exec();
    m_loop = nullptr;
}

void BatchEngine::Dispatch(GhostscriptInterpreter *interpreter)
{
    if (m_next >= m_items.size())
        return;
    const int index = m_next++;
    m_working.insert(interpreter, index);
    interpreter->Render(m_items.at(index).input);
}

void BatchEngine::Received(GhostscriptInterpreter *interpreter, int index, bool converted, const QString &image,
                           const QString &message)
{
    const QString output = m_items.at(index).output;
    const auto sharers = m_sharers.constFind(output);
    if (sharers == m_sharers.cend()) {
        Commit(index, converted ? image : QString(), message);
    } else {
        // Keep it until every earlier input with this output has been written.
        QString held;
        if (converted) {
            held = QDir(m_heldFolder).filePath(QString::number(index) + QStringLiteral(".jpg"));
            QFile::remove(held);
            if (!QFile::rename(image, held) && !QFile::copy(image, held))
                held.clear();
        }
        m_held.insert(index, {held, message});
        QList<int> &waiting = m_sharers[output];
        while (!waiting.isEmpty() && m_held.contains(waiting.first())) {
            const int first = waiting.takeFirst();
            const auto [heldImage, heldMessage] = m_held.take(first);
            Commit(first, heldImage, heldMessage);
            if (!heldImage.isEmpty())
                QFile::remove(heldImage);
        }
    }
    Dispatch(interpreter);
    if (m_reported == m_items.size() && m_loop)
        m_loop->quit();
}

void BatchEngine::Commit(int index, const QString &image, const QString &message)
{
    if (image.isEmpty()) {
        Report(index, false, message);
        return;
    }
    try {
        FileSystem::CopyFile(image, m_items.at(index).output);
        Report(index, true, message);
    } catch (const RuntimeError &error) {
        Report(index, false, QStringLiteral("the image could not be saved: ") + error.description());
    }
}

void BatchEngine::Report(int index, bool converted, const QString &message)
{
    ++m_reported;
    emit ItemDone({index, converted, message});
}
