#include "hostilecorpus.h"

#include "testfiles.h"

#include "sandbox/sandbox.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray Eps(const QByteArray &body, const QByteArray &box = "0 0 100 100")
{
    return "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: " + box + "\n%%Creator: Pellucor tests\n%%EndComments\n" + body
           + "\n0 0 1 setrgbcolor 10 10 80 80 rectfill showpage\n%%EOF\n";
}

// The same bytes on every run, so a failure can be looked at again.
QByteArray Garbage(int size)
{
    QByteArray bytes(size, '\0');
    quint32 state = 12345;
    for (char &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 16);
    }
    return bytes;
}

} // namespace

QList<HostileFile> HostileCorpus(const QString &outside, const QString &jobScript)
{
    const QByteArray o = QFile::encodeName(outside);
    const QByteArray s = QFile::encodeName(jobScript);
    QList<HostileFile> corpus{
        {"deletes.eps", Eps("(" + o + "/sentinel.txt) deletefile")},
        {"deletes-relative.eps", Eps("(../../outside/sentinel.txt) deletefile")},
        {"renames.eps", Eps("(" + o + "/sentinel.txt) (" + o + "/renamed.txt) renamefile")},
        {"writes.eps", Eps("(" + o + "/written.txt) (w) file dup (owned) writestring closefile")},
        {"writes-relative.eps", Eps("(../escaped.txt) (w) file dup (owned) writestring closefile")},
        {"appends.eps", Eps("(" + o + "/sentinel.txt) (a) file dup (more) writestring closefile")},
        {"pipes.eps", Eps("(%pipe%touch " + o + "/piped) (w) file closefile")},
        {"reads.eps", Eps("(" + o + "/sentinel.txt) (r) file 100 string readstring pop print")},
        {"rewrites-script.eps", Eps("(" + s + ") (w) file dup (touch " + o + "/owned) writestring closefile")},
        {"rewrites-script-relative.eps", Eps("(" + QFile::encodeName(QFileInfo(jobScript).fileName())
                                             + ") (w) file dup (touch owned) writestring closefile")},
        {"loops.eps", Eps("{ } loop")},
        {"recurses.eps", Eps("/f { f } def f")},
        {"overflows.eps", Eps("/g { 1 g } def g")},
        {"huge-box.eps", Eps("", "0 0 2000000 2000000")},
        {"huge-page.eps", Eps("<< /PageSize [9999999 9999999] >> setpagedevice")},
        {"truncated.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 100 100\n%%EndComments\n"
                          "/Helvetica findfont 12 scalefont setfont 10 10 moveto (a string that never"},
        {"garbage.eps", Garbage(4096)},
        {"empty.eps", QByteArray()},
        {"x.eps", QByteArray(), true},
    };
    const QByteArray harmless = Eps("");
    for (const char *name :
         {"with space.eps", "quote's \"double\".eps", "$(touch pwned).eps", "`touch pwned`.eps", "semi;colon & amp.eps",
          "new\nline.eps", "кириллица 日本語.eps", "back\\slash.eps", "100%p %d.eps", "-dNOSAFER.eps"})
        corpus.append({QString::fromUtf8(name), harmless, false, true});
    return corpus;
}

QString WriteHostileFile(const QString &folder, const HostileFile &file)
{
    const QString path = folder + u'/' + file.name;
    if (file.folder)
        QDir().mkpath(path);
    else
        WriteBytes(path, file.content);
    return path;
}

void PrepareOutside(const QString &outside)
{
    QDir().mkpath(outside);
    WriteBytes(outside + QStringLiteral("/sentinel.txt"), "keep me");
    WriteBytes(outside + QStringLiteral("/other.txt"), "and me");
}

namespace {

int SharedSegmentsOfEightMegabytes()
{
    int count = 0;
    for (const QByteArray &line : ReadBytes(QStringLiteral("/proc/sysvipc/shm")).split('\n').mid(1)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(3) == QByteArray::number(8 << 20))
            ++count;
    }
    return count;
}

} // namespace

Bystanders::Bystanders()
{
    m_victim.start(QStringLiteral("sleep"), {QStringLiteral("300")});
    m_victim.waitForStarted();
    qputenv("PELLUCOR_TEST_VICTIM_PID", QByteArray::number(m_victim.processId()));
    // Not closed on exec, as a careless starter leaves one.
    m_descriptor = ::open(QFile::encodeName(m_folder.filePath(QStringLiteral("inherited.txt"))).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0600);
    m_segments = SharedSegmentsOfEightMegabytes();
}

Bystanders::~Bystanders()
{
    qunsetenv("PELLUCOR_TEST_VICTIM_PID");
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_victim.kill();
    m_victim.waitForFinished();
}

QStringList Bystanders::reached() const
{
    QStringList reached;
    if (!ProcessAlive(m_victim.processId()))
        reached << QStringLiteral("a process outside was ended");
    if (!ReadBytes(m_folder.filePath(QStringLiteral("inherited.txt"))).isEmpty())
        reached << QStringLiteral("an inherited descriptor was written");
    if (SharedSegmentsOfEightMegabytes() != m_segments)
        reached << QStringLiteral("System V memory outlived its job");
    return reached;
}

EnvironmentScope::EnvironmentScope(std::initializer_list<std::pair<const char *, QByteArray>> variables)
{
    for (const auto &[name, value] : variables) {
        m_saved.append({name,
                        qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt});
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
}

EnvironmentScope::~EnvironmentScope()
{
    for (const auto &[name, value] : m_saved) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

bool KernelConfinesFiles()
{
    for (const std::string &gap : Sandbox::missing()) {
        if (gap.find("user namespaces") == std::string::npos)
            return false;
    }
    return true;
}
