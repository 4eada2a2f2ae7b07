#include "renderworker.h"

#include "ghostscriptjob.h"
#include "pagebox.h"
#include "runending.h"
#include "renderer/renderprotocol.h"
#include "renderer/trace.h"

#include "imaging/jpegencoding.h"

#include "common/filesystem.h"
#include "common/platform.h"
#include "common/runtimeerror.h"
#include "common/shell.h"
#include "sandbox/ghostscriptpolicy.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStorageInfo>

#include <cstring>

namespace {

// The renderer keeps the time limit itself; this is for a renderer that stops answering.
constexpr std::chrono::seconds RendererGrace{10};
// How often the output of a separate run is measured.
constexpr std::chrono::milliseconds SeparateRunMeterInterval{20};

QString pagePath(const QString &folder, int page)
{
    return QDir(folder).filePath(QString::asprintf(RenderProtocol::PagePattern, page));
}

// The end of what Ghostscript printed: its "Error: ..." line when there is
// one, else its last words.
QString ghostscriptWords(const QByteArray &said)
{
    if (const QString error = GhostscriptJob::GhostscriptError(said); !error.isEmpty())
        return error;
    QStringList lines;
    for (const QByteArray &line : said.split('\n')) {
        if (GhostscriptJob::IsInformational(line))
            continue;
        if (const QString printable = GhostscriptJob::PrintableText(line); !printable.isEmpty())
            lines.append(printable);
    }
    return lines.mid(qMax(0, int(lines.size()) - 3)).join(QStringLiteral(" / "));
}

bool TemporaryDiskFull(const QString &folder)
{
    constexpr qint64 NearlyNothing = 256 * 1024;
    const QStorageInfo disk(folder);
    return disk.isValid() && disk.bytesAvailable() < NearlyNothing;
}

QByteArray tailOf(const QString &path)
{
    if (QFileInfo(path).isSymLink())
        return {}; // the words of whatever it names are no run's
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    file.seek(qMax<qint64>(0, file.size() - GhostscriptPolicy::MessagesKept));
    return file.read(GhostscriptPolicy::MessagesKept);
}

} // namespace

RenderWorker::RenderWorker(WorkFolder &folder, WarmRenderer *renderer, const BatchSettings &settings, QObject *parent)
    : QObject(parent), m_folder(folder), m_renderer(renderer), m_settings(settings)
{
    m_meter.setInterval(SeparateRunMeterInterval);
    connect(&m_meter, &QTimer::timeout, this, &RenderWorker::measureSeparateRun);
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        stop();
        conclude(RunEnding::TimedOut, 0);
        // A renderer that lets a file run past its time answers no one: the
        // files it still has fail, and the next gets a new one.
        if (m_settings.program.isEmpty())
            m_renderer->stop(false);
    });
    if (m_renderer)
        connect(m_renderer, &WarmRenderer::answered, this, &RenderWorker::rendererAnswered);
}

RenderWorker::~RenderWorker()
{
    stop();
}

void RenderWorker::render(const QString &input)
{
    m_input = input;
    m_busy = true;
    m_box.clear();
    m_resolution = m_settings.resolution.value_or(72);
    m_measuring = m_settings.image.crop == GhostscriptPolicy::Image::Crop::Drawing;
    if (m_measuring)
        renderPass(PageBox::MeasurePrologue());
    else
        renderWithBox(std::nullopt);
}

void RenderWorker::renderWithBox(const std::optional<QRectF> &drawn)
{
    QString failure;
    if (const std::optional<QByteArray> prologue = prologueFor(drawn, &failure))
        renderPass(*prologue);
    else
        fail(failure);
}

std::optional<QByteArray> RenderWorker::prologueFor(const std::optional<QRectF> &drawn, QString *failure)
{
    std::optional<QRectF> box;
    QByteArray prologue;
    if (m_settings.image.crop == GhostscriptPolicy::Image::Crop::Drawing) {
        // Nothing drawn: the file's own box, as Ghostscript would crop it, else its whole page.
        const double margin = m_settings.margin;
        if (drawn) {
            box = drawn->adjusted(-margin, -margin, margin, margin);
            m_box = QStringLiteral("drawing");
        } else {
            box = PageBox::Declared(m_input);
            m_box = box ? QStringLiteral("file") : QStringLiteral("page");
        }
        if (box)
            prologue = PageBox::CropPrologue(*box);
    } else if (m_settings.sized()) {
        box = PageBox::Declared(m_input);
    }
    if (m_settings.sized()) {
        if (!box) {
            *failure = QStringLiteral("it has no bounding box to size its image by; cropped to its drawing, it would");
            return std::nullopt;
        }
        m_resolution = PageBox::ResolutionToFit(box->size(), m_settings.width, m_settings.height);
        prologue += (prologue.isEmpty() ? "" : " ") + PageBox::ResolutionPrologue(m_resolution);
    }
    return prologue;
}

void RenderWorker::renderPass(const QByteArray &prologue)
{
    m_prologue = QByteArray(GhostscriptPolicy::FilePrologue) + ' ' + prologue;
    m_refusal.clear();
    QString failure;
    m_fileFolder = m_folder.makeFileFolder(&failure);
    if (m_fileFolder.isEmpty()) {
        fail(failure);
        return;
    }
    if (!m_settings.program.isEmpty()) {
        startSeparateRun();
        return;
    }
    m_watchdog.start(m_settings.limits.time + RendererGrace);
    m_request = m_renderer->request(m_fileFolder, m_input, m_prologue);
    Trace::stamp("batch", std::to_string(m_request), "sent", QFile::encodeName(m_input).toStdString());
}

void RenderWorker::fail(const QString &reason)
{
    m_busy = false;
    Outcome outcome;
    outcome.message = reason;
    outcome.folder = std::exchange(m_fileFolder, {});
    emit finished(outcome);
}

void RenderWorker::rendererAnswered(int id, RunEnding ending, int number)
{
    if (id != m_request)
        return;
    Trace::stamp("batch", std::to_string(id), "answered");
    conclude(ending, number);
}

void RenderWorker::startSeparateRun()
{
    // What the renderer checks before it forks: only a regular file is read.
    const QFileInfo input(m_input);
    if (!input.exists()) {
        conclude(RunEnding::Unreadable, ENOENT);
        return;
    }
    if (!input.isFile()) {
        conclude(RunEnding::NotRegular, 0);
        return;
    }
    const QString ghostscript = QStandardPaths::findExecutable(m_settings.program);
    if (ghostscript.isEmpty()) {
        m_runFailure = QStringLiteral("Ghostscript (%1): no such program").arg(m_settings.program);
        conclude(RunEnding::NotStarted, 0);
        return;
    }
    // Ghostscript reads a "%" in OutputFile as a format: the folder's own are doubled.
    QString pages = QDir(m_fileFolder).absolutePath();
    pages.replace(u'%', QStringLiteral("%%"));
    pages += u'/' + QString::fromLatin1(RenderProtocol::PagePattern);
    QProcessEnvironment environment;
    try {
        GhostscriptJob::FreshTemporaryFolder(m_fileFolder, environment);
    } catch (const RuntimeError &error) {
        m_runFailure = error.description();
        conclude(RunEnding::NotStarted, 0);
        return;
    }
    // Not quiet, as the renderer is not: Ghostscript names the fonts it
    // substitutes only then.
    QStringList arguments = m_settings.switches() + QStringList{QStringLiteral("-sOutputFile=") + pages};
    arguments << QStringLiteral("-c") << QString::fromLatin1(m_prologue) << QStringLiteral("-f") << m_input;
    // What it writes in all is measured below.
    const Sandbox sandbox(GhostscriptPolicy::separateRunRules(QFile::encodeName(m_input).toStdString(),
                                                              QFile::encodeName(m_fileFolder).toStdString(),
                                                              QFile::encodeName(ghostscript).toStdString(),
                                                              m_settings.limits));
    if (!sandbox.failure().empty()) { // applied by the program that starts it, below
        m_refusal = QString::fromStdString(sandbox.failure());
        conclude(RunEnding::Unconfined, 0);
        return;
    }
    m_process = Shell::PrepareProgram(ghostscript, arguments, m_fileFolder, environment, &sandbox);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(QDir(m_fileFolder).filePath(QString::fromLatin1(RenderProtocol::MessagesName)));
    connect(m_process.get(), &QProcess::finished, this, &RenderWorker::separateRunEnded);
    m_watchdog.start(m_settings.limits.time);
    m_meter.start();
    m_process->start();
    if (!m_process->waitForStarted()) {
        m_runFailure = QStringLiteral("Ghostscript (%1): %2").arg(m_settings.program, m_process->errorString());
        m_process.reset();
        conclude(RunEnding::NotStarted, 0);
    }
}

void RenderWorker::separateRunEnded(int exitCode, QProcess::ExitStatus status)
{
    m_process->disconnect(this);
    m_process.release()->deleteLater();
    const QString refusal = GhostscriptJob::SandboxRefusal(tailOf(messagesPath()));
    if (status != QProcess::NormalExit)
        conclude(RunEnding::Signalled, 0);
    else if (exitCode == Sandbox::OutputTooLargeStatus || separateRunOutgrown()) // measured once more, at rest
        conclude(RunEnding::Outgrown, 0);
    else if (exitCode == Sandbox::RefusedStatus || (!refusal.isEmpty() && exitCode != 127)) {
        m_refusal = refusal;
        conclude(RunEnding::Unconfined, 0);
    } else if (exitCode == 127 && !refusal.isEmpty()) {
        m_runFailure = refusal;
        conclude(RunEnding::NotStarted, 0);
    } else if (exitCode > 128 && exitCode < 128 + 65) { // as the sandbox reports a signal
        conclude(RunEnding::Signalled, exitCode - 128);
    } else {
        conclude(RunEnding::Exited, exitCode);
    }
}

bool RenderWorker::separateRunOutgrown() const
{
    // Everything below the file's folder counts, by the sizes its files
    // claim: pages, messages and temporary files.
    qint64 written = 0;
    QDirIterator files(m_fileFolder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        files.next();
        written += files.fileInfo().size();
    }
    return quint64(written) > m_settings.limits.outputBytes();
}

void RenderWorker::measureSeparateRun()
{
    if (separateRunOutgrown()) {
        stop();
        conclude(RunEnding::Outgrown, 0);
    }
}

void RenderWorker::stop()
{
    m_watchdog.stop();
    m_meter.stop();
    if (!m_process)
        return;
    m_process->disconnect(this);
    if (m_process->state() != QProcess::NotRunning)
        Shell::KillProcessTree(*m_process);
    m_process.release()->deleteLater();
}

void RenderWorker::conclude(RunEnding ending, int number)
{
    if (!m_busy)
        return;
    m_watchdog.stop();
    m_meter.stop();
    m_request = 0;
    const QByteArray said = tailOf(messagesPath());
    if (m_measuring && ending == RunEnding::Exited) {
        m_measuring = false;
        QDir(m_fileFolder).removeRecursively();
        renderWithBox(PageBox::Measured(said));
        return;
    }
    m_busy = false;
    Outcome outcome;
    if (ending == RunEnding::Exited)
        outcome = exitedOutcome(said);
    else
        outcome.message = failureReason(ending, number, said);
    outcome.box = m_box;
    outcome.folder = std::exchange(m_fileFolder, {});
    emit finished(outcome);
}

RenderWorker::Outcome RenderWorker::exitedOutcome(const QByteArray &said) const
{
    const QString words = ghostscriptWords(said);
    Outcome outcome;
    outcome.message = said.contains("Error: /VMerror")
                          ? QStringLiteral("used more than %1 MB of memory").arg(m_settings.limits.memoryMegabytes)
                          : words;
    outcome.warnings = GhostscriptJob::FontWarnings(said);
    QString failure;
    outcome.images = gatherPages(&failure);
    // As the window judges an image: a page that could not be written whole
    // never passes for one.
    if (!outcome.images.isEmpty() && said.contains("Error: /ioerror")) {
        outcome.images.clear();
        failure = QStringLiteral("Ghostscript could not write the image (") + words + u')';
    }
    outcome.converted = !outcome.images.isEmpty();
    // A page cut short where the disk has run full: the disk is the reason.
    if (!failure.isEmpty() && TemporaryDiskFull(m_folder.path()))
        failure = RunEndings::DiskFullReason(m_folder.path());
    if (!failure.isEmpty())
        outcome.message = failure;
    else if (!outcome.converted && outcome.message.isEmpty())
        outcome.message = RunEndings::Reason(RunEnding::Exited, {});
    return outcome;
}

QString RenderWorker::failureReason(RunEnding ending, int number, const QByteArray &said) const
{
    RunEndings::Details details;
    details.number = number;
    details.limits = m_settings.limits;
    details.input = m_input;
    details.temporaryFolder = m_folder.path();
    if (ending == RunEnding::Signalled)
        details.words = ghostscriptWords(said);
    else if (ending == RunEnding::Unconfined)
        details.words = m_refusal.isEmpty() ? GhostscriptJob::SandboxRefusal(said) : m_refusal;
    else if (ending == RunEnding::NotStarted)
        details.words = m_settings.program.isEmpty() ? m_renderer->failure() : m_runFailure;
    return RunEndings::Reason(ending, details);
}

QString RenderWorker::messagesPath() const
{
    return QDir(m_fileFolder).filePath(QString::fromLatin1(RenderProtocol::MessagesName));
}

QString RenderWorker::encodePages(int pages) const
{
    for (int page = 1; page <= pages; ++page) {
        const QString path = pagePath(m_fileFolder, page);
        std::vector<unsigned char> jpeg;
        if (const std::string failure = JpegEncoding::encodePpm(QFile::encodeName(path).toStdString(),
                                                                m_settings.image.quality, m_resolution, jpeg);
            !failure.empty())
            return QString::fromStdString(failure);
        QSaveFile image(path);
        if (!image.open(QIODevice::WriteOnly)
            || image.write(reinterpret_cast<const char *>(jpeg.data()), qint64(jpeg.size())) != qint64(jpeg.size())
            || !image.commit())
            return QStringLiteral("the page could not be encoded: ") + image.errorString();
    }
    return {};
}

QStringList RenderWorker::gatherPages(QString *failure) const
{
    int pages = 0;
    for (QFileInfo page(pagePath(m_fileFolder, 1)); page.exists() || page.isSymLink();
         page.setFile(pagePath(m_fileFolder, ++pages + 1))) {
        if (!GhostscriptJob::IsLeftAsFile(page.filePath())) {
            *failure = GhostscriptJob::NotAFileReason(page.filePath());
            return {};
        }
    }
    // The renderer's children encode their pages themselves; a separate run's are encoded here.
    if (m_settings.image.encodedHere() && !m_settings.program.isEmpty()) {
        if (const QString why = encodePages(pages); !why.isEmpty()) {
            *failure = why;
            return {};
        }
    }
    QStringList paths;
    for (int page = 1; page <= pages; ++page) {
        paths << pagePath(m_fileFolder, page);
        if (!GhostscriptJob::IsCompleteImage(paths.last(), m_settings.image.format)) {
            *failure = QStringLiteral("Ghostscript stopped before the image was complete");
            return {};
        }
    }
    if (pages <= 1 || m_settings.eachPage)
        return paths;
    // A separate run writes all of a file's pages into one file, one after the other.
    const QString result = QDir(m_fileFolder).filePath(QStringLiteral("result.jpg"));
    QFile image(result);
    bool written = image.open(QIODevice::WriteOnly);
    for (int page = 1; written && page <= pages; ++page) {
        QFile part(pagePath(m_fileFolder, page));
        written = part.open(QIODevice::ReadOnly) && image.write(part.readAll()) == part.size();
    }
    written = written && image.flush();
    if (!written) {
        *failure = image.error() == QFileDevice::ResourceError
                       ? RunEndings::DiskFullReason(m_folder.path())
                       : QStringLiteral("the pages could not be gathered: ") + image.errorString();
        return {};
    }
    return {result};
}
