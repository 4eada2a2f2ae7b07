#include "batchengine.h"

#include "common/platform.h"
#include "renderer/trace.h"

#include <QDir>
#include <QEventLoop>
#include <QMetaObject>

BatchEngine::BatchEngine(QList<BatchItem> items, BatchSettings settings, QObject *parent)
    : QObject(parent), m_items(std::move(items)), m_settings(std::move(settings)),
      m_folder(QDir(m_settings.workRoot).filePath(QStringLiteral("pellucor-batch-XXXXXX")))
{
    // The first input with an output name has it, an up-to-date one too; a
    // refused one claims none.
    QHash<QString, int> &owners = m_owners;
    for (int i = 0; i < m_items.size(); ++i) {
        BatchItem &item = m_items[i];
        if (!item.refusal.isEmpty())
            continue;
        const QString name = nameKey(item.output);
        if (const auto owner = owners.constFind(name); owner != owners.cend()) {
            const QString &earlier = m_items.at(*owner).input;
            item.refusal = earlier == item.input ? QStringLiteral("given more than once; converted once")
                                                 : QStringLiteral("same output name as ") + earlier;
            continue;
        }
        owners.insert(name, i);
        if (!item.upToDate)
            ++m_rendered;
    }
}

BatchEngine::~BatchEngine()
{
    qDeleteAll(m_workers);
    m_renderer.reset(); // its children gone before their folders go
    m_writer.reset();
}

void BatchEngine::run()
{
    if (m_items.isEmpty())
        return;
    const int jobs = qBound(1, m_settings.jobs, qMax(1, m_rendered));
    m_settings.jobs = jobs;
    // The renderer renders `jobs` files at once and holds one more, which
    // it starts the moment a child ends: it never waits for this process.
    int workers = jobs;
    if (m_settings.program.isEmpty()) {
        m_renderer = std::make_unique<WarmRenderer>(m_settings, m_folder);
        workers = qMin(jobs + 1, qMax(1, m_rendered));
    }
    m_writer = std::make_unique<OutputWriter>(m_settings, [this] {
        QMetaObject::invokeMethod(this, &BatchEngine::collectSaved, Qt::QueuedConnection);
    });
    for (int k = 0; k < workers; ++k) {
        auto *worker = new RenderWorker(m_folder, m_renderer.get(), m_settings);
        m_workers.append(worker);
        // Queued: a file that fails before Ghostscript sees it must not recurse into the next.
        connect(
            worker, &RenderWorker::finished, this,
            [this, worker](const RenderWorker::Outcome &outcome) { received(worker, outcome); }, Qt::QueuedConnection);
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
    if (m_renderer)
        m_renderer->stop();
    // What was rendered before is saved and reported.
    if (m_writer) {
        m_writer->waitUntilIdle();
        collectSaved();
    }
    if (m_loop)
        m_loop->quit();
}

bool BatchEngine::skipUnrendered()
{
    for (; m_next < m_items.size() && !m_stopped; ++m_next) {
        const BatchItem &item = m_items.at(m_next);
        if (!item.refusal.isEmpty())
            report({m_next, false, false, item.refusal});
        else if (item.upToDate)
            report({m_next, false, true});
        else
            break;
    }
    return m_next < m_items.size() && !m_stopped;
}

void BatchEngine::dispatch(RenderWorker *worker)
{
    if (!skipUnrendered())
        return;
    const int index = m_next++;
    m_working.insert(worker, index);
    m_clocks[index].start();
    Trace::stamp("engine", std::to_string(index), "dispatched",
                 QFile::encodeName(m_items.at(index).input).toStdString());
    worker->render(m_items.at(index).input);
}

void BatchEngine::received(RenderWorker *worker, const RenderWorker::Outcome &outcome)
{
    if (m_stopped)
        return;
    const int index = m_working.take(worker);
    Trace::stamp("engine", std::to_string(index), "rendered");
    // The next file first: saving this one's images never holds it up.
    dispatch(worker);
    commit(index, outcome);
}

void BatchEngine::collectSaved()
{
    for (const BatchReport &done : m_writer->takeSaved())
        report(done);
    if (m_reported == m_items.size() && m_loop)
        m_loop->quit();
}

QString BatchEngine::nameKey(const QString &output)
{
    return Platform::UsesWindowsPaths() ? output.toCaseFolded() : output;
}

QString PageOutput(const QString &output, int page)
{
    const qsizetype dot = output.lastIndexOf(u'.');
    return output.left(dot) + u'-' + QString::number(page) + output.mid(dot);
}

void BatchEngine::commit(int index, const RenderWorker::Outcome &outcome)
{
    BatchReport done{index, false, false, outcome.message};
    done.box = outcome.box;
    done.warnings = outcome.warnings;
    // One image keeps the file's output name; pages of their own are numbered.
    const QString output = m_items.at(index).output;
    for (int page = 1; outcome.converted && page <= outcome.images.size(); ++page)
        done.outputs << (outcome.images.size() == 1 ? output : PageOutput(output, page));
    // A page's image never takes the name of another file's image, nor of a
    // page of another file: "a-2.jpg" is also the image of a-2.eps.
    for (const QString &page : std::as_const(done.outputs)) {
        const int owner = m_owners.value(nameKey(page), m_pageOwners.value(nameKey(page), index));
        if (owner != index) {
            done.message = QStringLiteral("a page's image would be named %1, as the image of %2")
                               .arg(QDir::toNativeSeparators(page), QDir::toNativeSeparators(m_items.at(owner).input));
            done.outputs.clear();
            break;
        }
    }
    for (const QString &page : std::as_const(done.outputs))
        m_pageOwners.insert(nameKey(page), index);
    m_writer->save(done, done.outputs.isEmpty() ? QStringList() : outcome.images, outcome.folder);
}

void BatchEngine::report(BatchReport done)
{
    Trace::stamp("engine", std::to_string(done.index), "reported");
    ++m_reported;
    const QElapsedTimer clock = m_clocks.take(done.index); // none for a file not rendered
    done.seconds = clock.isValid() ? clock.elapsed() / 1000.0 : 0.0;
    emit itemDone(done);
}
