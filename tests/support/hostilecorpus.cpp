#include "hostilecorpus.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>

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
    for (const char *name : {"with space.eps", "quote's \"double\".eps", "$(touch pwned).eps", "`touch pwned`.eps",
                             "semi;colon & amp.eps", "new\nline.eps", "кириллица 日本語.eps", "back\\slash.eps",
                             "100%p %d.eps", "-dNOSAFER.eps"})
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
