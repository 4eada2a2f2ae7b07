#include "support/hostilecorpus.h"
#include "support/testfiles.h"
#include "support/testregistry.h"

#include "sandbox/sandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

struct Run
{
    int exitCode = -1;
    QString output; // standard output
    QString errors; // standard error: progress, summary, complaints
};

Run Batch(const QStringList &arguments, const QString &home = {})
{
    QProcess batch;
    if (!home.isEmpty())
        batch.setProcessEnvironment(ConverterEnvironment(home));
    batch.start(QStringLiteral(PELLUCOR_APP_DIR "/pellucor-batch"), arguments);
    Run run;
    if (!batch.waitForFinished(600000))
        return run;
    run.exitCode = batch.exitStatus() == QProcess::NormalExit ? batch.exitCode() : -1;
    run.output = QString::fromLocal8Bit(batch.readAllStandardOutput());
    run.errors = QString::fromLocal8Bit(batch.readAllStandardError());
    return run;
}

// The same with arguments given as bytes, as a shell passes names that are
// not UTF-8 (QProcess would pass their lossy text): each is written out
// byte by byte for printf.
Run BatchWithBytes(const QList<QByteArray> &arguments, const QString &home)
{
    QByteArray script = "exec '" PELLUCOR_APP_DIR "/pellucor-batch'";
    for (const QByteArray &argument : arguments) {
        script += " \"$(printf '";
        for (const char byte : argument)
            script += '\\' + QByteArray::number(uchar(byte), 8).rightJustified(3, '0');
        script += "')\"";
    }
    QProcess batch;
    batch.setProcessEnvironment(ConverterEnvironment(home));
    batch.start("/bin/sh", {"-c", QString::fromLatin1(script)});
    Run run;
    if (!batch.waitForFinished(600000))
        return run;
    run.exitCode = batch.exitStatus() == QProcess::NormalExit ? batch.exitCode() : -1;
    run.output = QString::fromUtf8(batch.readAllStandardOutput());
    run.errors = QString::fromUtf8(batch.readAllStandardError());
    return run;
}

// A small EPS that draws `number` as a bar, so that every file's image differs.
QByteArray NumberedEps(int number)
{
    return QStringLiteral("%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 60 20\n%%EndComments\n"
                          "0 0 0.6 setrgbcolor 0 4 %1 12 rectfill showpage\n%%EOF\n")
        .arg(1 + number % 59)
        .toLatin1();
}

} // namespace

class BatchCommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void badUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("unknown option") << QStringList{"--bogus", "a.eps"} << "unknown option --bogus";
        QTest::newRow("quality above 100")
            << QStringList{"--quality", "101", "a.eps"} << "--quality needs a whole number from 0 to 100, not \"101\"";
        QTest::newRow("quality below 0") << QStringList{"--quality=-1", "a.eps"}
                                         << "--quality needs a whole number from 0 to 100, not \"-1\"";
        QTest::newRow("quality not a number") << QStringList{"--quality", "high", "a.eps"}
                                              << "--quality needs a whole number from 0 to 100, not \"high\"";
        QTest::newRow("no inputs") << QStringList{"--quality", "50"} << "no files or folders to convert";
        QTest::newRow("nothing at all") << QStringList{} << "no files or folders to convert";
        QTest::newRow("value missing") << QStringList{"a.eps", "--jobs"} << "missing value after '--jobs'";
        QTest::newRow("no jobs") << QStringList{"--jobs", "0", "a.eps"}
                                 << "--jobs needs a whole number from 1 to 1024, not \"0\"";
        QTest::newRow("timeout of nothing")
            << QStringList{"--timeout", "0", "a.eps"} << "--timeout needs a number of seconds above 0, not \"0\"";
        QTest::newRow("both output choices")
            << QStringList{"--output", "/tmp", "--beside", "a.eps"} << "--output and --beside exclude each other";
        QTest::newRow("missing output folder") << QStringList{"--output", "/no/such/folder", "a.eps"}
                                               << "the output folder /no/such/folder does not exist";
        QTest::newRow("a list without its file") << QStringList{"--null", "a.eps"} << "--null goes with --files-from";
        QTest::newRow("a part beyond the parts")
            << QStringList{"--shard", "4/3", "a.eps"} << "--shard needs K/N with 1 <= K <= N, not \"4/3\"";
        QTest::newRow("a list that is not there") << QStringList{"--files-from", "/no/such/list"}
                                                  << "the list /no/such/list cannot be read: No such file or directory";
        QTest::newRow("a mirror without its folder")
            << QStringList{"--mirror", "a.eps"} << "--mirror goes with --output";
        QTest::newRow("a format there is not")
            << QStringList{"--format", "gif", "a.eps"} << "--format needs jpeg or png, not \"gif\"";
        QTest::newRow("smooth edges of what there is not")
            << QStringList{"--antialias", "some", "a.eps"} << "--antialias needs graphics, all or none, not \"some\"";
        QTest::newRow("skipping when it is not said when")
            << QStringList{"--skip-existing", "always", "a.eps"} << "--skip-existing needs newer, not \"always\"";
        QTest::newRow("a transparent JPEG") << QStringList{"--background", "transparent", "a.eps"}
                                            << "--background transparent goes with --format png: a JPEG has no "
                                               "transparency";
        QTest::newRow("no pixels wide") << QStringList{"--width", "0", "a.eps"}
                                        << "--width needs a whole number from 1 to 65500, not \"0\"";
        QTest::newRow("a size and a resolution") << QStringList{"--width", "800", "--resolution", "300", "a.eps"}
                                                 << "--resolution and --width or --height exclude each other: the size "
                                                    "sets the resolution";
        QTest::newRow("a crop to what there is not")
            << QStringList{"--crop", "page", "a.eps"} << "--crop needs box or drawing, not \"page\"";
        QTest::newRow("a margin around the file's own box")
            << QStringList{"--margin", "5", "a.eps"} << "--margin goes with --crop drawing";
        QTest::newRow("a margin inside the drawing") << QStringList{"--crop", "drawing", "--margin", "-1", "a.eps"}
                                                     << "--margin needs a number of points from 0 to 1000, not \"-1\"";
        QTest::newRow("pages in some other way")
            << QStringList{"--pages", "all", "a.eps"} << "--pages needs one or each, not \"all\"";
        QTest::newRow("full colour detail of a PNG")
            << QStringList{"--format", "png", "--chroma", "full", "a.eps"}
            << "--chroma full goes with --format jpeg: a PNG keeps every colour";
        QTest::newRow("control characters in a name are shown escaped")
            << QStringList{"--output", "/no/such/\x1b[2J\\x1b\n", "a.eps"}
            << "the output folder /no/such/\\x1b[2J\\\\x1b\\n does not exist";
    }
    void badUsage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, complaint);
        QTemporaryDir home;
        const Run run = Batch(arguments, home.path());
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.errors, "pellucor-batch: " + complaint + "\nTry 'pellucor-batch --help'.\n");
        QCOMPARE(run.output, QString());
    }

    void helpVersionAndManualAgree()
    {
        const Run run = Batch({"--help"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.output.startsWith("Usage: pellucor-batch [options] PATH..."));
        QCOMPARE(Batch({"--version"}).output, QString("pellucor-batch " PELLUCOR_VERSION "\n"));

        // The manual documents exactly the options --help lists, and the exit statuses.
        const QRegularExpression option("^  (--[a-z-]+)", QRegularExpression::MultilineOption);
        QStringList helped, documented;
        for (const auto &match : option.globalMatch(run.output))
            helped << match.captured(1);
        const QString manual = QString::fromUtf8(ReadBytes(PELLUCOR_SOURCE_DIR "/src/batch/pellucor-batch.1"));
        const QStringList lines = manual.section(".SH OPTIONS", 1).section(".SH ", 0, 0).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i)
            if (lines.at(i - 1) == ".TP") // the option a paragraph documents
                documented << lines.at(i).section(' ', 1, 1).remove('"').replace("\\-", "-");
        helped.sort();
        documented.sort();
        QCOMPARE(documented, helped);
        for (const char *status : {".B 0\n", ".B 1\n", ".B 2\n", ".B 128 + signal\n"})
            QVERIFY(manual.section(".SH EXIT STATUS", 1).contains(status));
        QVERIFY(manual.contains(".TH PELLUCOR-BATCH 1 \"") && manual.contains("\"Pellucor " PELLUCOR_VERSION "\""));
    }

    void aFolderOfAThousandFiles()
    {
        QTemporaryDir home;
        const QString in = home.filePath("in");
        for (int i = 0; i < 1000; ++i) {
            const QString path = QString("%1/group%2/f%3.eps").arg(in).arg(i / 100).arg(i, 4, 10, QChar('0'));
            QDir().mkpath(QFileInfo(path).absolutePath());
            WriteBytes(path, NumberedEps(i));
        }
        for (const char *name : {"group3/bad1.eps", "group5/bad2.eps", "bad3.eps"})
            WriteBytes(in + "/" + name, ReadBytes(TestDataPath("broken.eps")));
        WriteBytes(in + "/~lock.eps", "x");       // left out, as by the window's folder scan
        WriteBytes(in + "/.hidden.eps", "x");     // hidden archive file: left out
        WriteBytes(in + "/notes.txt", "not eps"); // another extension
        QDir().mkpath(home.filePath("out"));

        const Run run = Batch({"--output", home.filePath("out"), in}, home.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains("of 1003 files:"), qPrintable(run.errors.left(500)));
        QVERIFY(run.errors.contains("1003 of 1003 files: 1000 converted, 3 failed\n"));
        QVERIFY(run.errors.contains("Converted 1000 of 1003 files in "));
        QVERIFY(run.errors.contains("\n3 failed:\n"));
        for (const char *name : {"group3/bad1.eps", "group5/bad2.eps", "bad3.eps"})
            QVERIFY(run.errors.contains(QString("  %1/%2: Error: /undefined in thisnameisnotdefined\n").arg(in, name)));
        QCOMPARE(QDir(home.filePath("out")).entryList(QDir::Files).size(), 1000);
        for (int i : {0, 499, 999}) {
            const QString input = QString("%1/group%2/f%3.eps").arg(in).arg(i / 100).arg(i, 4, 10, QChar('0'));
            QCOMPARE(ReadBytes(home.filePath(QString("out/f%1.jpg").arg(i, 4, 10, QChar('0')))),
                     GhostscriptReference(input, 75));
        }
        QVERIFY(!QFileInfo::exists(home.filePath("temp/ps"))); // never the window's working folder
    }

    void choicesStoredByTheWindowServeAsDefaults()
    {
        QTemporaryDir home;
        QDir().mkpath(home.filePath("stored-out"));
        const QString input = home.filePath("in/shapes.eps");
        QDir().mkpath(home.filePath("in"));
        WriteBytes(input, ReadBytes(TestDataPath("shapes.eps")));
        {
            QSettings store(home.filePath("config/Veltranix.ini"), QSettings::IniFormat);
            store.setValue("Pellucor/Output Folder", home.filePath("stored-out") + "/");
            store.setValue("Pellucor/JPGQuality", "40");
            store.setValue("Pellucor/Option1", "True");
            store.setValue("Pellucor/Option2", "False");
        }
        Run run = Batch({"--quiet", input}, home.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.errors, QString()); // quiet: nothing when all went well
        QCOMPARE(ReadBytes(home.filePath("stored-out/shapes.jpg")), GhostscriptReference(input, 40));

        {
            QSettings store(home.filePath("config/Veltranix.ini"), QSettings::IniFormat);
            store.setValue("Pellucor/Option1", "False");
            store.setValue("Pellucor/Option2", "True");
        }
        run = Batch({"--quality", "90", input}, home.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(ReadBytes(home.filePath("in/shapes.jpg")), GhostscriptReference(input, 90));
    }

    void filesAreTakenAsGiven()
    {
        QTemporaryDir home;
        QDir().mkpath(home.filePath("out"));
        WriteBytes(home.filePath("~draft.eps"), ReadBytes(TestDataPath("text.eps")));
        const Run run = Batch({"--output", home.filePath("out"), "--beside", "--bogus"}, home.path());
        QCOMPARE(run.exitCode, 2);
        const Run given = Batch({"--output", home.filePath("out"), home.filePath("~draft.eps"),
                                 home.filePath("missing.eps")},
                                home.path());
        QCOMPARE(given.exitCode, 1);
        QVERIFY(QFileInfo::exists(home.filePath("out/~draft.jpg")));
        QVERIFY(given.errors.contains(home.filePath("missing.eps") + ": File not found"));
    }

    void namesThatAreNotUtf8FailAndTheirTwinsConvertAsThemselves()
    {
        QTemporaryDir home;
        const QByteArray native = QFile::encodeName(home.path());
        const NamedTreeRemover remover(native + "/in");
        const auto data = [](const char *name) { return ReadBytes(TestDataPath(name)); };
        const auto shown = [&](const char *relative) { return home.path() + QString::fromUtf8(relative); };
        for (const char *folder : {"/in", "/in/found", "/in/named", "/in/listed"})
            MakeFolderNamed(native + folder);
        // Each name in Latin-1 beside its twin: a file named with the Latin-1 name's text, U+FFFD.
        WriteBytesNamed(native + "/in/found/caf\xe9.eps", data("text.eps"));
        WriteBytesNamed(native + "/in/found/caf\xef\xbf\xbd.eps", data("shapes.eps"));
        MakeFolderNamed(native + "/in/found/d\xe9j\xe0");
        WriteBytesNamed(native + "/in/found/d\xe9j\xe0/b.eps", data("text.eps"));
        WriteBytesNamed(native + "/in/named/\xe9t\xe9.eps", data("text.eps"));
        WriteBytesNamed(native + "/in/named/\xef\xbf\xbdt\xef\xbf\xbd.eps", data("lines.eps"));
        WriteBytesNamed(native + "/in/listed/n\xe9.eps", data("text.eps"));
        WriteBytesNamed(native + "/in/listed/n\xef\xbf\xbd.eps", data("shapes.eps"));
        WriteBytesNamed(native + "/list",
                        native + "/in/listed/n\xe9.eps\n" + native + "/in/listed/n\xef\xbf\xbd.eps\n");
        QDir().mkpath(home.filePath("out"));

        const Run run = BatchWithBytes({"--quality", "75", "--output", native + "/out", "--report", native + "/report",
                                        native + "/in/found", native + "/in/named/\xe9t\xe9.eps",
                                        native + "/in/named/\xef\xbf\xbdt\xef\xbf\xbd.eps", "--files-from",
                                        native + "/list"},
                                       home.path());
        QCOMPARE(run.exitCode, 1);
        const QString notUtf8 = ": the name is not valid UTF-8\n";
        for (const char *failed : {"/in/found/caf\xef\xbf\xbd.eps", "/in/named/\xef\xbf\xbdt\xef\xbf\xbd.eps",
                                   "/in/listed/n\xef\xbf\xbd.eps"})
            QVERIFY2(run.errors.contains("\n  " + shown(failed) + notUtf8), qPrintable(run.errors));
        QVERIFY(run.errors.contains("\n  " + shown("/in/found/d\xef\xbf\xbdj\xef\xbf\xbd")
                                    + ": the folder's name is not valid UTF-8, so it was not searched\n"));
        QVERIFY(run.errors.contains("Converted 3 of 7 files in "));
        // Each twin converted once, as itself.
        QCOMPARE(QDir(home.filePath("out")).entryList(QDir::Files | QDir::Hidden).size(), 3);
        for (const char *twin : {"/in/found/caf\xef\xbf\xbd.eps", "/in/named/\xef\xbf\xbdt\xef\xbf\xbd.eps",
                                 "/in/listed/n\xef\xbf\xbd.eps"})
            QCOMPARE(ReadBytes(home.filePath("out/" + QFileInfo(shown(twin)).completeBaseName() + ".jpg")),
                     GhostscriptReference(shown(twin), 75));
        int converted = 0, failed = 0;
        for (const QByteArray &line : ReadBytes(home.filePath("report")).split('\n')) {
            const QJsonObject report = QJsonDocument::fromJson(line).object();
            if (report.value("status") == "converted")
                ++converted;
            else if (report.value("status") == "failed"
                     && report.value("reason").toString().contains("not valid UTF-8"))
                ++failed;
        }
        QCOMPARE(converted, 3);
        QCOMPARE(failed, 4);

        // A folder or file the options name must be named faithfully too.
        const Run usage = BatchWithBytes({"--output", native + "/in/found/d\xe9j\xe0", native + "/in/named"},
                                         home.path());
        QCOMPARE(usage.exitCode, 2);
        QVERIFY2(usage.errors.startsWith("pellucor-batch: --output names "
                                         + shown("/in/found/d\xef\xbf\xbdj\xef\xbf\xbd")
                                         + ", whose name is not valid UTF-8\n"),
                 qPrintable(usage.errors));
    }

    void mirrorRebuildsTheFoldersUnderTheOutput()
    {
        QTemporaryDir home;
        const auto input = [&](const QString &relative, const char *data) {
            QDir().mkpath(QFileInfo(home.filePath(relative)).absolutePath());
            WriteBytes(home.filePath(relative), ReadBytes(TestDataPath(data)));
            return home.filePath(relative);
        };
        const QString top = input("one/top.eps", "shapes.eps");
        const QString deep = input("one/a/b/x.eps", "text.eps");
        const QString again = input("two/a/b/x.eps", "lines.eps"); // the same place under the output
        const QString other = input("two/c/y.eps", "lines.eps");
        const QString named = input("loose/z.eps", "shapes.eps");
        const QString linked = input("two/d/e/w.eps", "shapes.eps");
        QDir().mkpath(home.filePath("out"));
        // A link in the output tree, planted where a folder of it will be made.
        QDir().mkpath(home.filePath("elsewhere"));
        QVERIFY(QFile::link(home.filePath("elsewhere"), home.filePath("out/d")));
        const Run run = Batch({"--quality", "75", "--mirror", "--output", home.filePath("out"), home.filePath("one"),
                               home.filePath("two/"), named},
                              home.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains("\n  " + again + ": same output name as " + deep + "\n"), qPrintable(run.errors));
        QVERIFY2(run.errors.contains("\n  " + linked + ": the image could not be saved: The folder "
                                     + home.filePath("out/d")
                                     + " is a link, which is not followed: nothing is "
                                       "written through it\n"),
                 qPrintable(run.errors));
        QCOMPARE(QDir(home.filePath("elsewhere")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(run.errors.contains("Converted 4 of 6 files in "));
        QStringList written;
        for (QDirIterator it(home.filePath("out"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();)
            written << QDir(home.filePath("out")).relativeFilePath(it.next());
        written.sort();
        QCOMPARE(written, (QStringList{"a/b/x.jpg", "c/y.jpg", "top.jpg", "z.jpg"}));
        QCOMPARE(ReadBytes(home.filePath("out/top.jpg")), GhostscriptReference(top, 75));
        QCOMPARE(ReadBytes(home.filePath("out/a/b/x.jpg")), GhostscriptReference(deep, 75));
        QCOMPARE(ReadBytes(home.filePath("out/c/y.jpg")), GhostscriptReference(other, 75));
        QCOMPARE(ReadBytes(home.filePath("out/z.jpg")), GhostscriptReference(named, 75));
    }

    // Said once, never pretended: every wall this system lacks is named.
    void aNoteNamesEachMissingWall_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("note");
        QTest::newRow("no user namespaces") << QByteArray("PELLUCOR_NAMESPACES") << QByteArray("off")
                                            << "pellucor-batch: note: without user namespaces, ";
        QTest::newRow("no bubblewrap") << QByteArray("PATH") << QByteArray("/nonexistent")
                                       << "pellucor-batch: note: without bubblewrap (bwrap), ";
    }
    void aNoteNamesEachMissingWall()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        QFETCH(QString, note);
        if (!KernelConfinesFiles() || !Sandbox::namespacesAvailable()
            || QStandardPaths::findExecutable("bwrap").isEmpty())
            QSKIP("this system lacks a wall already");
        QTemporaryDir home;
        WriteBytes(home.filePath("a.eps"), ReadBytes(TestDataPath("shapes.eps")));
        const EnvironmentScope environment{{variable.constData(), value}};
        const Run run = Batch({"--quiet", "--beside", home.filePath("a.eps")}, home.path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.errors.startsWith(note), qPrintable(run.errors));
        QCOMPARE(run.errors.count("note: "), 1);
    }

    void escapeSequencesInNamesNeverReachTheTerminal()
    {
        QTemporaryDir home;
        // ESC, BEL, a backslash, a tab, CSI
        const QString name = QString("a\x1b]0;owned\x07\\x1b\tb") + QChar(0x9B) + "2J.eps";
        const QString shown = "a\\x1b]0;owned\\x07\\\\x1b\\tb\\x9b"
                              "2J.eps";
        WriteBytes(home.filePath(name), ReadBytes(TestDataPath("broken.eps")));
        const Run run = Batch({"--quality", "75", "--beside", "--report", home.filePath("report"), home.filePath(name),
                               home.filePath("gone\x1b[2J.eps")},
                              home.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains("\n  " + home.filePath(shown) + ": Error: /undefined in thisnameisnotdefined\n"),
                 qPrintable(run.errors));
        QVERIFY2(run.errors.contains(home.filePath("gone\\x1b[2J.eps")
                                     + ": File not found: " + home.filePath("gone\\x1b[2J.eps") + "\n"),
                 qPrintable(run.errors));
        for (const QChar c : run.errors)
            QVERIFY2(c == '\n' || (c >= ' ' && c != QChar(0x7F) && (c < QChar(0x80) || c > QChar(0x9F))),
                     qPrintable(QString::number(c.unicode(), 16)));
        // The report is JSON: escaped by its own rules, and read back the names are whole.
        const QByteArray report = ReadBytes(home.filePath("report"));
        QVERIFY(!report.contains('\x1b') && !report.contains('\x07'));
        const QList<QByteArray> lines = report.split('\n');
        QCOMPARE(QJsonDocument::fromJson(lines.value(0)).object().value("input").toString(), home.filePath(name));
        QCOMPARE(QJsonDocument::fromJson(lines.value(1)).object().value("input").toString(),
                 home.filePath("gone\x1b[2J.eps"));
    }

    void aListFromStandardInputSplitAcrossMachines()
    {
        QTemporaryDir home;
        QStringList inputs;
        for (int i = 0; i < 10; ++i) {
            inputs << home.filePath(QString("in/f%1.eps").arg(i));
            QDir().mkpath(home.filePath("in"));
            WriteBytes(inputs.last(), NumberedEps(i));
        }
        inputs << home.filePath("in/two\nlines.eps") << home.filePath("in/broken.eps");
        WriteBytes(inputs.at(10), NumberedEps(10));
        WriteBytes(inputs.at(11), ReadBytes(TestDataPath("broken.eps")));
        QByteArray list;
        for (const QString &input : inputs)
            list += QFile::encodeName(input) + '\0';
        QDir().mkpath(home.filePath("out"));

        // Three machines, each given the same list and its own part.
        QStringList converted;
        for (int shard = 1; shard <= 3; ++shard) {
            QProcess batch;
            batch.setProcessEnvironment(ConverterEnvironment(home.path()));
            batch.start(PELLUCOR_APP_DIR "/pellucor-batch",
                        {"--quiet", "--quality", "75", "--output", home.filePath("out"), "--files-from", "-", "--null",
                         "--report", "-", "--shard", QString("%1/3").arg(shard)});
            batch.write(list);
            batch.closeWriteChannel();
            QVERIFY(batch.waitForFinished(60000));
            const QList<QByteArray> lines = batch.readAllStandardOutput().split('\n');
            QCOMPARE(lines.last(), QByteArray()); // every line ended
            for (const QByteArray &line : lines.mid(0, lines.size() - 1)) {
                const QJsonObject report = QJsonDocument::fromJson(line).object();
                const QString input = report.value("input").toString();
                const QString output = report.value("output").toString();
                QVERIFY2(inputs.contains(input), line.constData());
                QVERIFY2(!converted.contains(input), "converted on two machines");
                converted << input;
                QCOMPARE(output, home.filePath("out/" + QFileInfo(input).completeBaseName() + ".jpg"));
                QVERIFY(report.value("seconds").toDouble() > 0);
                if (input.endsWith("/broken.eps")) {
                    QCOMPARE(report.value("status").toString(), QString("failed"));
                    QCOMPARE(report.value("reason").toString(), QString("Error: /undefined in thisnameisnotdefined"));
                    QCOMPARE(report.value("bytes").toInt(), 0);
                } else {
                    QCOMPARE(report.value("status").toString(), QString("converted"));
                    QVERIFY(!report.contains("reason"));
                    QCOMPARE(report.value("bytes").toInteger(), QFileInfo(output).size());
                    QCOMPARE(ReadBytes(output), GhostscriptReference(input, 75));
                }
            }
        }
        converted.sort();
        inputs.sort();
        QCOMPARE(converted, inputs); // everything exactly once
    }

    // Rerunning a tree after a few files changed converts only those.
    void onlyWhatChangedIsConvertedAgain()
    {
        QTemporaryDir home;
        QDir().mkpath(home.filePath("in"));
        for (const char *name : {"kept", "touched", "new"})
            WriteBytes(home.filePath(QString("in/%1.eps").arg(name)), ReadBytes(TestDataPath("shapes.eps")));
        const QDateTime now = QDateTime::currentDateTime();
        const auto stamp = [&](const QString &relative, int seconds) {
            QFile file(home.filePath(relative));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(now.addSecs(seconds), QFileDevice::FileModificationTime));
        };
        // Images of an earlier run, newer than their files; then one file changed.
        for (const char *name : {"kept", "touched"}) {
            WriteBytes(home.filePath(QString("in/%1.jpg").arg(name)), "made by an earlier run");
            stamp(QString("in/%1.eps").arg(name), -60);
        }
        stamp("in/touched.eps", 60);
        const Run run = Batch({"--quality", "75", "--beside", "--skip-existing", "newer", "--report", "-",
                               home.filePath("in")},
                              home.path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.errors.contains("Converted 2 of 3 files in ")
                     && run.errors.contains(", 1 up to date and skipped.\n"),
                 qPrintable(run.errors));
        QCOMPARE(ReadBytes(home.filePath("in/kept.jpg")), QByteArray("made by an earlier run"));
        for (const char *name : {"touched", "new"})
            QCOMPARE(ReadBytes(home.filePath(QString("in/%1.jpg").arg(name))),
                     GhostscriptReference(home.filePath(QString("in/%1.eps").arg(name)), 75));
        QStringList statuses;
        for (const QByteArray &line : run.output.toUtf8().trimmed().split('\n'))
            statuses << QJsonDocument::fromJson(line).object().value("status").toString();
        QCOMPARE(statuses, (QStringList{"skipped", "converted", "converted"})); // kept, new, touched
    }

    void listLineEnds_data()
    {
        QTest::addColumn<QStringList>("names"); // as the list holds them
        QTest::addColumn<QByteArray>("separator");
        QTest::newRow("CR LF line ends") << QStringList{"a.eps", "b.eps"} << QByteArray("\r\n");
        QTest::newRow("a CR ending a name in a NUL-separated list") << QStringList{"c.eps\r"} << QByteArray("\0", 1);
    }
    void listLineEnds()
    {
        QFETCH(QStringList, names);
        QFETCH(QByteArray, separator);
        QTemporaryDir home;
        QDir().mkpath(home.filePath("in"));
        QByteArray list;
        for (const QString &name : names) {
            // Beside each, the name with its last CR the other way: never to be taken for it.
            const QString decoy = name.endsWith('\r') ? name.chopped(1) : name + '\r';
            WriteBytes(home.filePath("in/" + name), ReadBytes(TestDataPath("shapes.eps")));
            WriteBytes(home.filePath("in/" + decoy), ReadBytes(TestDataPath("text.eps")));
            list += QFile::encodeName(home.filePath("in/" + name)) + separator;
        }
        WriteBytes(home.filePath("list"), list);
        QStringList arguments{"--quality", "75", "--beside", "--files-from", home.filePath("list")};
        if (separator == QByteArray("\0", 1))
            arguments << "--null";
        const Run run = Batch(arguments, home.path());
        QCOMPARE(run.exitCode, 0);
        for (const QString &name : names) {
            const QString input = home.filePath("in/" + name);
            QCOMPARE(ReadBytes(home.filePath("in/" + name.section('.', 0, 0) + ".jpg")),
                     GhostscriptReference(input, 75));
        }
    }

    // What the image options give, against a separate run of Ghostscript
    // given the switches they stand for.
    void imageOptionsMatchASeparateRun_data()
    {
        QTest::addColumn<QString>("input"); // one that the option changes
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("switches");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("prologue"); // PostScript the reference runs before the file
        const QStringList jpeg{"-sDEVICE=jpeg", "-dJPEGQ=75"};
        const QStringList drawn{"-dDOINTERPOLATE", "-dGraphicsAlphaBits=4", "-dEPSCrop"};
        QTest::newRow("resolution") << "text" << QStringList{"--resolution", "150"}
                                    << jpeg + drawn + QStringList{"-r150"} << "text.jpg" << "";
        // Ghostscript takes a quality of 0 for none given and writes 75.
        QTest::newRow("quality 0, the lowest") << "text" << QStringList{"--quality", "0"}
                                               << QStringList{"-sDEVICE=jpeg", "-dJPEGQ=1"} + drawn << "text.jpg" << "";
        QTest::newRow("smooth text") << "text" << QStringList{"--antialias", "all"}
                                     << jpeg + drawn + QStringList{"-dTextAlphaBits=4"} << "text.jpg" << "";
        QTest::newRow("hard edges") << "shapes" << QStringList{"--antialias", "none"}
                                    << jpeg + QStringList{"-dDOINTERPOLATE", "-dEPSCrop"} << "shapes.jpg" << "";
        QTest::newRow("PNG") << "text" << QStringList{"--format", "png"} << QStringList{"-sDEVICE=png16m"} + drawn
                             << "text.png" << "";
        // Lines on nothing: its corners stay transparent.
        QTest::newRow("transparent PNG") << "lines" << QStringList{"--format", "png", "--background", "transparent"}
                                         << QStringList{"-sDEVICE=png16malpha"} + drawn << "lines.png" << "";
        // 200 points wide: 800 pixels at 288 dots per inch.
        QTest::newRow("800 pixels wide") << "text" << QStringList{"--width", "800"} << jpeg + drawn << "text.jpg"
                                         << "<< /HWResolution [288 288] >> setpagedevice";
    }
    void imageOptionsMatchASeparateRun()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, options);
        QFETCH(QStringList, switches);
        QFETCH(QString, image);
        QFETCH(QString, prologue);
        QTemporaryDir home;
        const QString eps = home.filePath(input + ".eps");
        WriteBytes(eps, ReadBytes(TestDataPath(input + ".eps")));
        const Run run = Batch(QStringList{"--beside", "--quality", "75"} + options + QStringList{eps}, home.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QDir(home.path()).entryList({input + ".*"}), (QStringList{input + ".eps", image}));
        QProcess gs;
        gs.start("gs", QStringList{"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE"} + switches
                           + QStringList{"-sOutputFile=" + home.filePath("ref")}
                           + (prologue.isEmpty() ? QStringList() : QStringList{"-c", prologue, "-f"})
                           + QStringList{eps});
        QVERIFY(gs.waitForFinished(60000));
        const QByteArray bytes = ReadBytes(home.filePath(image));
        QCOMPARE(bytes, ReadBytes(home.filePath("ref")));
        QVERIFY(bytes != GhostscriptReference(eps, 75)); // the option made a difference
        if (options.contains("transparent")) {
            const QImage decoded = QImage::fromData(bytes);
            for (const QPoint corner : {QPoint(0, 0), QPoint(decoded.width() - 1, decoded.height() - 1)})
                QCOMPARE(qAlpha(decoded.pixel(corner)), 0);
        }
    }

    // --width and --height: the image fits the box to the pixel, and its
    // density field says at what resolution it was rendered.
    void sizeFitsTheBox_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("density");
        QTest::newRow("wider than high") << "text" << QStringList{"--width", "800"} << QSize(800, 240) << 288;
        QTest::newRow("square, by its height") << "square" << QStringList{"--height", "300"} << QSize(300, 300) << 216;
        QTest::newRow("inside both, the height holding")
            << "lines" << QStringList{"--width", "800", "--height", "500"} << QSize(750, 500) << 450;
        // 72.5 by 49.3 points by its high-resolution box; 73 by 50 by the other.
        QTest::newRow("by the high-resolution box")
            << "hires" << QStringList{"--width", "800"} << QSize(800, 544) << 794;
    }
    void sizeFitsTheBox()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, options);
        QFETCH(QSize, size);
        QFETCH(int, density);
        QTemporaryDir home;
        const Run run = Batch(QStringList{"--output", home.path()} + options
                                  + QStringList{TestDataPath(input + ".eps")},
                              home.path());
        QCOMPARE(run.exitCode, 0);
        const QByteArray bytes = ReadBytes(home.filePath(input + ".jpg"));
        QCOMPARE(QImage::fromData(bytes).size(), size);
        QCOMPARE(qFromBigEndian<quint16>(bytes.constData() + 14),
                 quint16(density)); // JFIF: X density, in dots per inch
    }

    // --crop drawing: what a file draws, whatever its box says, measured by
    // Ghostscript; the report says which box the image shows.
    void cropToTheDrawing_data()
    {
        QTest::addColumn<QByteArray>("eps");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRgb>("corner");
        QTest::addColumn<QString>("box");
        QTest::newRow("a box written (atend)")
            << ReadBytes(TestDataPath("atend.eps")) << QStringList() << QSize(200, 60) << qRgb(0, 0, 255) << "drawing";
        QTest::newRow("a box that hides the drawing") << ReadBytes(TestDataPath("hiddenbox.eps")) << QStringList()
                                                      << QSize(80, 40) << qRgb(255, 0, 0) << "drawing";
        QTest::newRow("a margin around it") << ReadBytes(TestDataPath("hiddenbox.eps")) << QStringList{"--margin", "10"}
                                            << QSize(100, 60) << qRgb(255, 255, 255) << "drawing";
        QTest::newRow("nothing drawn: the file's own box")
            << QByteArray("%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 30 20\n%%EndComments\nshowpage\n")
            << QStringList() << QSize(30, 20) << qRgb(255, 255, 255) << "file";
    }
    void cropToTheDrawing()
    {
        QFETCH(QByteArray, eps);
        QFETCH(QStringList, options);
        QFETCH(QSize, size);
        QFETCH(QRgb, corner);
        QFETCH(QString, box);
        QTemporaryDir home;
        WriteBytes(home.filePath("in.eps"), eps);
        const Run run = Batch(QStringList{"--beside", "--crop", "drawing", "--report", "-"} + options
                                  + QStringList{home.filePath("in.eps")},
                              home.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QJsonDocument::fromJson(run.output.toUtf8()).object().value("box").toString(), box);
        const QImage image(home.filePath("in.jpg"));
        QCOMPARE(image.size(), size);
        for (const QPoint at : {QPoint(1, 1), QPoint(size.width() - 2, size.height() - 2)}) {
            const QRgb pixel = image.pixel(at); // as near as a JPEG keeps it
            QVERIFY2(qAbs(qRed(pixel) - qRed(corner)) + qAbs(qGreen(pixel) - qGreen(corner))
                             + qAbs(qBlue(pixel) - qBlue(corner))
                         < 60,
                     qPrintable(QString::number(pixel, 16)));
        }
    }

    // --pages each: a file's pages, each what Ghostscript writes for it; a
    // file of one page keeps its name.
    void eachPageAnImage_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("images");
        QTest::newRow("three pages") << "threepages.ps"
                                     << QStringList{"threepages-1.jpg", "threepages-2.jpg", "threepages-3.jpg"};
        QTest::newRow("one page") << "text.eps" << QStringList{"text.jpg"};
    }
    void eachPageAnImage()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, images);
        QTemporaryDir home;
        const QString path = home.filePath(input);
        WriteBytes(path, ReadBytes(TestDataPath(input)));
        const Run run = Batch({"--beside", "--quality", "75", "--pages", "each", "--extension", "*", "--report", "-",
                               path},
                              home.path());
        QCOMPARE(run.exitCode, 0);
        QStringList reported;
        for (const QJsonValue output : QJsonDocument::fromJson(run.output.toUtf8()).object().value("outputs").toArray())
            reported << QFileInfo(output.toString()).fileName();
        QCOMPARE(reported, images.size() > 1 ? images : QStringList());
        QProcess gs;
        gs.start("gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=jpeg", "-dJPEGQ=75", "-dDOINTERPOLATE",
                        "-dGraphicsAlphaBits=4", "-dEPSCrop", "-sOutputFile=" + home.filePath("ref%d"), path});
        QVERIFY(gs.waitForFinished(60000));
        QCOMPARE(QDir(home.path()).entryList({"*.jpg"}), images);
        for (int page = 1; page <= images.size(); ++page)
            QVERIFY(ReadBytes(home.filePath(images.at(page - 1)))
                    == ReadBytes(home.filePath(QString("ref%1").arg(page))));
    }

    // --chroma full: every component at full resolution (1x1), the picture
    // Ghostscript renders, the resolution in the density field.
    void fullColourDetail()
    {
        QTemporaryDir home;
        const QString eps = TestDataPath("lines.eps");
        const Run run = Batch({"--output", home.path(), "--quality", "90", "--chroma", "full", eps}, home.path());
        QCOMPARE(run.exitCode, 0);
        const QByteArray bytes = ReadBytes(home.filePath("lines.jpg"));
        const qsizetype frame = bytes.indexOf("\xFF\xC0"); // baseline frame: 3 components of id, sampling, table
        QVERIFY(frame > 0);
        QCOMPARE(bytes.mid(frame + 9, 1), QByteArray("\x03"));
        for (int component = 0; component < 3; ++component)
            QCOMPARE(bytes.at(frame + 11 + 3 * component), '\x11');
        QCOMPARE(qFromBigEndian<quint16>(bytes.constData() + 14), quint16(72));
        // Nearer to the page Ghostscript renders than Ghostscript's own JPEG of that quality.
        const auto render = [&](const QStringList &device, const QString &name) {
            QProcess gs;
            gs.start("gs", QStringList{"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE"} + device
                               + QStringList{"-dDOINTERPOLATE", "-dGraphicsAlphaBits=4", "-dEPSCrop",
                                             "-sOutputFile=" + home.filePath(name), eps});
            gs.waitForFinished(60000);
            return QImage(home.filePath(name)).convertToFormat(QImage::Format_RGB32);
        };
        const QImage page = render({"-sDEVICE=png16m"}, "page.png");
        const auto difference = [&](const QImage &image) {
            qint64 sum = 0;
            for (int y = 0; y < page.height(); ++y)
                for (int x = 0; x < page.width(); ++x)
                    sum += qAbs(qRed(image.pixel(x, y)) - qRed(page.pixel(x, y)))
                           + qAbs(qBlue(image.pixel(x, y)) - qBlue(page.pixel(x, y)));
            return sum;
        };
        const QImage made = QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(made.size(), page.size());
        const qint64 halved = difference(render({"-sDEVICE=jpeg", "-dJPEGQ=90"}, "halved.jpg"));
        QVERIFY2(difference(made) < halved / 2, qPrintable(QString("%1 against %2").arg(difference(made)).arg(halved)));
    }

    // A font Ghostscript had to substitute is a warning of its file, which
    // converts all the same.
    void substitutedFontsAreWarnings()
    {
        QTemporaryDir home;
        const Run run = Batch({"--output", home.path(), "--report", "-", TestDataPath("missingfont.eps"),
                               TestDataPath("text.eps")},
                              home.path());
        QCOMPARE(run.exitCode, 0);
        const QList<QByteArray> lines = run.output.toUtf8().trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(QJsonDocument::fromJson(lines.at(0)).object().value("warnings").toArray(),
                 QJsonArray({"Substituting font Courier for Pellucor-NoSuchFont"}));
        QVERIFY(!QJsonDocument::fromJson(lines.at(1)).object().contains("warnings"));
        QVERIFY2(run.errors.contains("\n1 file converted with substituted fonts:\n  " + TestDataPath("missingfont.eps")
                                     + ": Substituting font Courier for Pellucor-NoSuchFont\n"),
                 qPrintable(run.errors));
    }
};

PELLUCOR_REGISTER_TEST(BatchCommandLineTest, ghostscript)
#include "tst_batchcli.moc"
