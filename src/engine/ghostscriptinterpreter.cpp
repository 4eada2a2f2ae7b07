#include "ghostscriptinterpreter.h"

#include "ghostscriptjob.h"

#include "common/filesystem.h"
#include "common/runtimeerror.h"
#include "common/shell.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {

const QString StagedName = QStringLiteral("in/current.eps");
const QString ResultName = QStringLiteral("result.jpg");
constexpr qsizetype OutputKept = 64 * 1024; // a chatty file must not fill the memory

// A PostScript string literal holding `text`.
QByteArray PostScriptString(const QString &text)
{
    QByteArray bytes = QFile::encodeName(text);
    bytes.replace('\\', "\\\\").replace('(', "\\(").replace(')', "\\)");
    return '(' + bytes + ')';
}

} // namespace

GhostscriptInterpreter::GhostscriptInterpreter(const QString &folder, const QString &program,
                                               const QStringList &switches, std::chrono::milliseconds timeLimit,
                                               QObject *parent)
    : QObject(parent), m_folder(folder), m_program(program), m_switches(switches), m_timeLimit(timeLimit)
{
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        if (m_busy)
            Conclude(Ending::TimedOut, 0);
    });
}

GhostscriptInterpreter::~GhostscriptInterpreter()
{
    Stop();
    QDir(m_folder).removeRecursively();
}

QStringList GhostscriptInterpreter::ArgumentsFor(const QString &folder)
{
    QString pages = QDir(folder).filePath(QStringLiteral("p%06d.jpg"));
    pages.replace(u'%', QStringLiteral("%%")).replace(QStringLiteral("%%06d"), QStringLiteral("%06d"));
    // No file and no -dBATCH: the interpreter reads its commands line by line
    // from its input, as at a prompt, which goes on after an error.
    return {QStringLiteral("-q"), QStringLiteral("-dNOPROMPT"), QStringLiteral("-sOutputFile=") + pages,
            QStringLiteral("--permit-file-read=") + QDir(folder).filePath(QStringLiteral("in")) + u'/'};
}

void GhostscriptInterpreter::Start()
{
    FileSystem::EnsurePrivateFolder(m_folder);
    QDir(m_folder).mkpath(QStringLiteral("in"));
    // Safe mode lets PostScript write in Ghostscript's temporary folder: one of
    // its own, emptied whenever the interpreter starts.
    const QString temporary = QDir(m_folder).filePath(QStringLiteral("tmp"));
    QDir(temporary).removeRecursively();
    QDir(m_folder).mkpath(QStringLiteral("tmp"));
    for (const QString &page : QDir(m_folder).entryList({QStringLiteral("p*.jpg")}, QDir::Files))
        QFile::remove(QDir(m_folder).filePath(page));

    QProcessEnvironment environment;
    for (const char *name : {"TMPDIR", "TEMP", "TMP"})
        environment.insert(QString::fromLatin1(name), QDir::toNativeSeparators(temporary));
    QStringList switches = m_switches;
    switches.removeAll(QStringLiteral("-dBATCH"));
    m_process = Shell::PrepareProgram(m_program, switches + ArgumentsFor(m_folder), m_folder, environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_process.get(), &QProcess::readyRead, this, &GhostscriptInterpreter::ReadOutput);
    connect(m_process.get(), &QProcess::finished, this, &GhostscriptInterpreter::ProcessEnded);
    m_process->start();
    if (!m_process->waitForStarted()) {
        const QString why = m_process->errorString();
        m_process.reset();
        throw RuntimeError(RuntimeError::FileNotFound,
                           QStringLiteral("Ghostscript (%1) could not be started: %2").arg(m_program, why));
    }
    m_token = "PELLUCOR" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    m_pagesBefore = 0;
    m_filesRendered = 0;
}

void GhostscriptInterpreter::Stop()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    if (m_process->state() != QProcess::NotRunning)
        Shell::KillProcessTree(*m_process);
    m_process.release()->deleteLater(); // Stop may be reached from one of its own signals
}

void GhostscriptInterpreter::Render(const QString &input)
{
    m_busy = true;
    m_output.clear();
    try {
        if (!m_process || m_process->state() == QProcess::NotRunning) {
            Stop();
            Start();
        }
        // Ghostscript may read only what lies in its own input folder.
        FileSystem::CopyFile(input, QDir(m_folder).filePath(StagedName));
    } catch (const RuntimeError &error) {
        m_busy = false;
        emit Finished({false, QString(), error.description()});
        return;
    }
    SendCommands();
    m_limit.start(m_timeLimit);
}

void GhostscriptInterpreter::SendCommands()
{
    const QByteArray t = m_token;
    const QByteArray commands =
        "clear cleardictstack erasepage\n"
        "userdict /" + t + "save save put\n"
        "{ " + PostScriptString(QDir(m_folder).filePath(StagedName)) + " run } stopped\n"
        "{ $error /newerror get { { (\\n" + t + " ERROR Error: /) print $error /errorname get =only ( in ) print"
        " $error /command get ==only (\\n) print } stopped pop $error /newerror false put } if } if\n"
        "clear cleardictstack\n"
        "{ userdict /" + t + "save get restore } stopped { (\\n" + t + " TAINTED\\n) print } if\n"
        "(\\n" + t + " DONE ) print currentpagedevice /PageCount get =only (\\n) print flush\n";
    m_process->write(commands);
}

void GhostscriptInterpreter::ReadOutput()
{
    m_output += m_process->readAll();
    if (!m_busy) {
        m_output.clear();
        return;
    }
    static const QByteArray done = " DONE ";
    const qsizetype marker = m_output.indexOf("\n" + m_token + done);
    if (marker >= 0) {
        const qsizetype numberStart = marker + 1 + m_token.size() + done.size();
        const qsizetype lineEnd = m_output.indexOf('\n', numberStart);
        if (lineEnd < 0)
            return; // the rest of the marker is on its way
        const int pageCount = m_output.mid(numberStart, lineEnd - numberStart).trimmed().toInt();
        m_output.truncate(marker);
        Conclude(Ending::Done, pageCount);
        return;
    }
    if (m_output.size() > OutputKept)
        m_output.remove(0, m_output.size() - OutputKept);
}

void GhostscriptInterpreter::ProcessEnded()
{
    if (!m_busy)
        return;
    m_output += m_process->readAll();
    const bool crashed = m_process->exitStatus() != QProcess::NormalExit;
    Conclude(crashed ? Ending::Crashed : Ending::Ended, LastPageOnDisk());
}

QString GhostscriptInterpreter::PagePath(int page) const
{
    return QDir(m_folder).filePath(QStringLiteral("p%1.jpg").arg(page, 6, 10, QChar(u'0')));
}

int GhostscriptInterpreter::LastPageOnDisk() const
{
    int last = m_pagesBefore;
    while (QFileInfo::exists(PagePath(last + 1)))
        ++last;
    return last;
}

QString GhostscriptInterpreter::MessageFrom(const QByteArray &text) const
{
    // Our own report of a caught error says it best; else the last words.
    const QByteArray error = "\n" + m_token + " ERROR ";
    const qsizetype at = text.lastIndexOf(error);
    if (at >= 0) {
        const qsizetype start = at + error.size();
        return GhostscriptJob::PrintableText(text.mid(start, text.indexOf('\n', start) - start));
    }
    QStringList lines;
    for (const QByteArray &line : text.split('\n')) {
        if (const QString printable = GhostscriptJob::PrintableText(line); !printable.isEmpty())
            lines.append(printable);
    }
    return lines.mid(qMax(0, int(lines.size()) - 3)).join(QStringLiteral(" / "));
}

void GhostscriptInterpreter::Conclude(Ending ending, int pageCount)
{
    m_limit.stop();
    m_busy = false;
    Outcome outcome;
    outcome.message = MessageFrom(m_output);
    const bool tainted = m_output.contains("\n" + m_token + " TAINTED");
    m_output.clear();

    if (ending == Ending::TimedOut || ending == Ending::Crashed) {
        // Pages from a job that was stopped may be unfinished: none of them count.
        outcome.message = ending == Ending::TimedOut
                              ? QStringLiteral("stopped after running %1 seconds").arg(m_timeLimit.count() / 1000.0)
                              : QStringLiteral("Ghostscript ended abnormally") +
                                    (outcome.message.isEmpty() ? QString() : QStringLiteral(": ") + outcome.message);
        Stop();
        emit Finished(outcome);
        return;
    }

    // A separate run writes all of a file's pages into one file, one after the other.
    const QString result = QDir(m_folder).filePath(ResultName);
    QFile::remove(result);
    if (pageCount > m_pagesBefore) {
        QFile image(result);
        bool written = image.open(QIODevice::WriteOnly);
        for (int page = m_pagesBefore + 1; page <= pageCount; ++page) {
            QFile part(PagePath(page));
            written = written && part.open(QIODevice::ReadOnly) && image.write(part.readAll()) == part.size();
            part.close();
            QFile::remove(PagePath(page));
        }
        written = written && image.flush();
        image.close();
        outcome.converted = written;
        outcome.imagePath = written ? result : QString();
        if (!written)
            outcome.message = QStringLiteral("the pages could not be gathered: ") + image.errorString();
    } else if (outcome.message.isEmpty()) {
        outcome.message = QStringLiteral("Ghostscript produced no image");
    }
    m_pagesBefore = pageCount;
    // A file that quit the interpreter, or left it in a state the restore
    // could not undo, leaves nothing for the next file: it gets a fresh one.
    if (ending == Ending::Ended || tainted || ++m_filesRendered >= FilesPerInterpreter)
        Stop();
    emit Finished(outcome);
}
