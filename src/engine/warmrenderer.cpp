#include "warmrenderer.h"

#include "renderer/renderprotocol.h"

#include "common/shell.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>

namespace {

constexpr int RendererStopWait = 3000; // milliseconds

} // namespace

QString WorkFolder::makeFileFolder(QString *failure)
{
    if (!m_root) {
        m_root.emplace(m_template);
        if (!m_root->isValid()) {
            *failure = QStringLiteral("The folder %1 cannot be created: %2")
                           .arg(QDir::toNativeSeparators(m_template), m_root->errorString());
            m_root.reset(); // tried again for the next file, never a folder without a path
            return {};
        }
    }
    const QString folder = QDir(m_root->path()).filePath(QString::number(++m_files));
    const auto privately = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    if (!QDir().mkdir(folder, privately)) {
        *failure = QStringLiteral("The folder %1 cannot be created").arg(QDir::toNativeSeparators(folder));
        return {};
    }
    return folder;
}

WarmRenderer::WarmRenderer(const BatchSettings &settings, WorkFolder &folder, QObject *parent)
    : QObject(parent), m_settings(settings), m_folder(folder)
{
}

WarmRenderer::~WarmRenderer()
{
    stop();
}

int WarmRenderer::request(const QString &fileFolder, const QString &input, const QByteArray &prologue)
{
    const int id = ++m_lastId;
    m_waiting.append(id);
    m_requests.insert(id, QByteArray::number(id) + '\0' + QFile::encodeName(fileFolder) + '\0'
                              + QFile::encodeName(input) + '\0' + prologue + '\0');
    if (!m_process && !start())
        answerNotStartedLater(id);
    else
        send(id);
    return id;
}

void WarmRenderer::send(int id)
{
    m_process->write(m_requests.value(id));
}

void WarmRenderer::answerNotStartedLater(int id)
{
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            if (m_waiting.removeOne(id)) {
                m_requests.remove(id);
                emit answered(id, RunEnding::NotStarted, 0);
            }
        },
        Qt::QueuedConnection);
}

bool WarmRenderer::start()
{
    QStringList arguments{QStringLiteral("--time-limit=%1").arg(m_settings.limits.time.count()),
                          QStringLiteral("--memory-limit=%1").arg(m_settings.limits.memoryMegabytes),
                          QStringLiteral("--max-output=%1").arg(m_settings.limits.outputMegabytes),
                          QStringLiteral("--jobs=%1").arg(qMax(1, m_settings.jobs))};
    if (m_settings.image.encodedHere())
        arguments << QStringLiteral("--encode-jpeg=%1").arg(m_settings.image.quality);
    arguments << QStringLiteral("--") << m_settings.switches();
    m_failure.clear();
    m_answers.clear();
    m_process = Shell::PrepareProgram(m_settings.renderer, arguments, m_folder.path());
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_process.get(), &QProcess::readyReadStandardOutput, this, &WarmRenderer::read);
    connect(m_process.get(), &QProcess::finished, this, &WarmRenderer::ended);
    m_process->start();
    if (m_process->waitForStarted())
        return true;
    m_failure = m_process->errorString();
    m_process.reset();
    return false;
}

void WarmRenderer::read()
{
    m_answers += m_process->readAllStandardOutput();
    for (qsizetype end; (end = m_answers.indexOf('\n')) >= 0;) {
        const QString line = QString::fromUtf8(m_answers.left(end));
        m_answers.remove(0, end + 1);
        const QString first = line.section(u' ', 0, 0);
        if (first == QLatin1String(RenderProtocol::Ready))
            continue;
        if (first == QLatin1String(RenderProtocol::Failed)) {
            m_failure = line.section(u' ', 1);
            continue;
        }
        bool isId = false;
        const int id = first.toInt(&isId);
        if (isId && m_waiting.removeOne(id)) {
            m_requests.remove(id);
            emit answered(id, RunEndings::FromProtocol(line.section(u' ', 1, 1)), line.section(u' ', 2, 2).toInt());
        }
    }
}

void WarmRenderer::ended()
{
    // A renderer that cannot start says so and ends: nothing it had starts.
    m_process->disconnect(this);
    m_process.release()->deleteLater(); // reached from one of its own signals
    if (!m_failure.isEmpty()) {
        answerEveryWaiting(RunEnding::NotStarted);
        return;
    }
    // One that dies may have been rendering the first of its requests, as
    // many as it renders at once; those after them it had not started.
    const QList<int> unstarted = m_waiting.mid(qMax(1, m_settings.jobs));
    m_waiting = m_waiting.mid(0, qMax(1, m_settings.jobs));
    answerEveryWaiting(RunEnding::Signalled);
    if (unstarted.isEmpty())
        return;
    const bool started = start();
    for (const int id : unstarted) {
        m_waiting.append(id);
        if (started)
            send(id);
        else
            answerNotStartedLater(id);
    }
}

void WarmRenderer::answerEveryWaiting(RunEnding ending)
{
    const QList<int> waiting = std::exchange(m_waiting, {});
    for (const int id : waiting) {
        m_requests.remove(id);
        emit answered(id, ending, 0);
    }
}

void WarmRenderer::stop(bool waitForChildren)
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    if (m_process->state() != QProcess::NotRunning) {
        // The renderer ends its children and waits for them before it ends
        // itself; one that does not answer is ended with everything it started.
        if (waitForChildren) {
            m_process->terminate();
            m_process->waitForFinished(RendererStopWait);
        }
        if (m_process->state() != QProcess::NotRunning)
            Shell::KillProcessTree(*m_process);
    }
    m_process.release()->deleteLater();
    answerEveryWaiting(RunEnding::Signalled);
}
