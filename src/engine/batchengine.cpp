#include "batchengine.h"

#include "common/filesystem.h"
#include "common/logging.h"
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
    qDeleteAll(m_workers);
    if (!m_heldFolder.isEmpty())
        QDir(m_heldFolder).removeRecursively();
}

void BatchEngine::run()
{
    if (m_items.isEmpty())
        return;
    const QString stem = QDir(m_settings.workRoot)
                             .filePath(QStringLiteral("pellucor-batch-%1").arg(QCoreApplication::applicationPid()));
    m_heldFolder = stem + QStringLiteral("-held");
    FileSystem::EnsurePrivateFolder(m_heldFolder);

    const int jobs = qBound(1, m_settings.jobs, int(m_items.size()));
    for (int k = 0; k < jobs; ++k) {
        auto *worker = new RenderWorker(stem + QStringLiteral("-%1").arg(k), m_settings);
        m_workers.append(worker);
        // Queued: a file that fails before Ghostscript sees it must not recurse into the next.
        connect(
            worker, &RenderWorker::finished, this,
            [this, worker](const RenderWorker::Outcome &outcome) { received(worker, outcome); },
            Qt::QueuedConnection);
    }
    QEventLoop loop;
    m_loop = &loop;
    for (RenderWorker *worker : m_workers)
        dispatch(worker);
    if (m_reported < m_items.size() && !m_stopped)
        loop.exec();
    m_loop = nullptr;
}

void BatchEngine::stop()
{
    m_stopped = true;
    for (RenderWorker *worker : m_workers)
        worker->stop();
    if (m_loop)
        m_loop->quit();
}

void BatchEngine::dispatch(RenderWorker *worker)
{
    if (m_next >= m_items.size() || m_stopped)
        return;
    const int index = m_next++;
    m_working.insert(worker, index);
    m_clocks[index].start();
    worker->render(m_items.at(index).input);
}

void BatchEngine::received(RenderWorker *worker, const RenderWorker::Outcome &outcome)
{
    if (m_stopped)
        return;
    const int index = m_working.take(worker);
    const QString output = m_items.at(index).output;
    const auto sharers = m_sharers.constFind(output);
    if (sharers == m_sharers.cend()) {
        commit(index, outcome.converted ? outcome.imagePath : QString(), outcome.message);
    } else {
        // Keep it until every earlier input with this output has been written.
        QString held;
        QString message = outcome.message;
        if (outcome.converted) {
            held = QDir(m_heldFolder).filePath(QString::number(index) + QStringLiteral(".jpg"));
            QFile::remove(held);
            if (!QFile::rename(outcome.imagePath, held) && !QFile::copy(outcome.imagePath, held)) {
                qCWarning(lcEngine) << "could not keep" << outcome.imagePath << "as" << held;
                held.clear();
                message = QStringLiteral("the image could not be kept until the files before it with its "
                                         "output name were done");
            }
        }
        m_held.insert(index, {held, message});
        QList<int> &waiting = m_sharers[output];
        while (!waiting.isEmpty() && m_held.contains(waiting.first())) {
            const int first = waiting.takeFirst();
            const auto [heldImage, heldMessage] = m_held.take(first);
            commit(first, heldImage, heldMessage);
            if (!heldImage.isEmpty())
                QFile::remove(heldImage);
        }
    }
    dispatch(worker);
    if (m_reported == m_items.size() && m_loop)
        m_loop->quit();
}

void BatchEngine::commit(int index, const QString &image, const QString &message)
{
    if (image.isEmpty()) {
        report(index, false, message);
        return;
    }
    try {
        FileSystem::CopyFile(image, m_items.at(index).output);
        report(index, true, message);
    } catch (const RuntimeError &error) {
        report(index, false, QStringLiteral("the image could not be saved: ") + error.description());
    }
}

void BatchEngine::report(int index, bool converted, const QString &message)
{
    ++m_reported;
    emit itemDone({index, converted, message, m_clocks.take(index).elapsed() / 1000.0});
}
