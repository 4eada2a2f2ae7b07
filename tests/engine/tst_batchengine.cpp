#include "support/batchrun.h"
#include "support/testfiles.h"
#include "support/testregistry.h"

#include "common/filesystem.h"
#include "engine/batchengine.h"
#include "engine/ghostscriptjob.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

namespace {

// An EPS with the binary preview header (C5 D0 D3 C6) around a PostScript part.
QByteArray WithBinaryHeader(const QByteArray &postScript)
{
    QByteArray header(30, '\0');
    qToLittleEndian<quint32>(0xC6D3D0C5, header.data());
    qToLittleEndian<quint32>(30, header.data() + 4);
    qToLittleEndian<quint32>(quint32(postScript.size()), header.data() + 8);
    qToLittleEndian<quint16>(0xFFFF, header.data() + 28);
    return header + postScript;
}

struct Corpus
{
    QStringList inputs;
    QStringList noReference; // files a separate run would never finish
};

// Good files around every kind of trouble, two pairs sharing an output name.
Corpus MakeCorpus(const QString &root)
{
    Corpus corpus;
    const auto add = [&](const QString &relative, const QByteArray &bytes) {
        const QString path = root + "/in/" + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        WriteBytes(path, bytes);
        corpus.inputs << path;
        return path;
    };
    const auto data = [](const char *name) { return ReadBytes(TestDataPath(name)); };
    add("shapes.eps", data("shapes.eps"));
    add("broken.eps", data("broken.eps"));      // a PostScript error between two good files
    add("lines.eps", data("lines.eps"));
    add("errafter.eps", data("errafter.eps"));  // draws, then fails before its page
    add("square.eps", data("square.eps"));      // same size: must not show what errafter drew
    add("noshow.eps", data("noshow.eps"));      // no showpage
    add("redef.eps", data("redef.eps"));        // redefines showpage
    add("leaves.eps", data("leaves.eps"));      // leaves operands and a dictionary behind
    add("text.eps", data("text.eps"));
    add("pagesize.eps", data("pagesize.eps"));  // changes the page size
    add("preview.eps", WithBinaryHeader(data("shapes.eps")));
    add("empty.eps", QByteArray());
    add("twopages.eps", data("twopages.eps"));
    add("quits.eps", data("quits.eps"));        // ends the interpreter
    add("brokenplain.ps", data("brokenplain.ps")); // draws on the default page, then fails
    add("plain.ps", data("plain.ps"));           // same page: must not show what was drawn before
    corpus.noReference << add("forever.eps", data("forever.eps"));
    add("a/same.eps", data("shapes.eps"));      // two outputs named same.jpg: the later is refused
    add("b/same.eps", data("text.eps"));
    add("c/other.eps", data("broken.eps"));     // the earlier fails: the later is refused all the same
    add("d/other.eps", data("lines.eps"));
    add("last.eps", data("shapes.eps"));
    return corpus;
}

} // namespace

class BatchEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void corpusGivesWhatSeparateRunsGive_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::addColumn<QString>("program");
        QTest::newRow("warm renderer, one job") << 1 << QString();
        QTest::newRow("warm renderer, three jobs") << 3 << QString();
        // What Windows does, and what a Ghostscript placed beside the program gets.
        QTest::newRow("separate runs, two jobs") << 2 << QString("gs");
    }
    void corpusGivesWhatSeparateRunsGive()
    {
        QFETCH(int, jobs);
        QFETCH(QString, program);
        QTemporaryDir root;
        const Corpus corpus = MakeCorpus(root.path());
        QDir().mkpath(root.filePath("out"));
        QDir().mkpath(root.filePath("temp"));

        QList<BatchItem> items;
        for (const QString &input : corpus.inputs)
            items.append({input, root.filePath("out/" + QFileInfo(input).completeBaseName() + ".jpg")});
        BatchSettings settings;
        settings.renderer = PELLUCOR_APP_DIR "/pellucor-renderer";
        settings.program = program;
        settings.image.quality = 75;
        settings.jobs = jobs;
        settings.limits.time = std::chrono::seconds(3);
        settings.workRoot = root.filePath("temp");

        const QList<BatchReport> reports = RunBatch(items, settings);
        QCOMPARE(reports.size(), items.size());
        QVERIFY2(QDir(root.filePath("temp")).isEmpty(), "the interpreters' folders were left behind");

        // What separate runs, one after another, would have left in the output
        // folder, but for an input whose output name an earlier one has: that
        // one is never rendered, and nothing is overwritten.
        QHash<QString, QByteArray> expected;
        QHash<int, bool> convertedExpected;
        QHash<QString, QString> firstWithOutput;
        for (int i = 0; i < items.size(); ++i) {
            if (firstWithOutput.contains(items.at(i).output)) {
                convertedExpected[i] = false;
                continue;
            }
            firstWithOutput[items.at(i).output] = items.at(i).input;
            const QByteArray reference = corpus.noReference.contains(items.at(i).input)
                                             ? QByteArray()
                                             : GhostscriptReference(items.at(i).input, 75);
            convertedExpected[i] = !reference.isEmpty();
            if (!reference.isEmpty())
                expected[items.at(i).output] = reference;
        }
        for (const BatchReport &report : reports) {
            const BatchItem &item = items.at(report.index);
            QVERIFY2(report.converted == convertedExpected.value(report.index),
                     qPrintable(item.input + ": " + report.message));
        }
        // Every image a new file of the usual mode, whichever way it came.
        QFile usual(root.filePath("usual"));
        QVERIFY(usual.open(QIODevice::WriteOnly));
        for (const BatchItem &item : items) {
            const QByteArray bytes = ReadBytes(item.output);
            QVERIFY2(bytes == expected.value(item.output), qPrintable(item.output));
            QCOMPARE(QFileInfo::exists(item.output), expected.contains(item.output));
            if (expected.contains(item.output))
                QCOMPARE(QFile::permissions(item.output), usual.permissions());
        }
        QStringList left = QDir(root.filePath("out")).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left.size(), expected.size()); // nothing half-written beside them

        const auto reportFor = [&](const QString &name) {
            for (const BatchReport &report : reports)
                if (items.at(report.index).input.endsWith("/in/" + name))
                    return report;
            return BatchReport();
        };
        QCOMPARE(reportFor("broken.eps").message, QString("Error: /undefined in thisnameisnotdefined"));
        QCOMPARE(reportFor("forever.eps").message, QString("stopped after running 3 seconds"));
        QCOMPARE(reportFor("empty.eps").message, QString("Ghostscript produced no image"));
        QCOMPARE(reportFor("b/same.eps").message, "same output name as " + root.filePath("in/a/same.eps"));
        QCOMPARE(reportFor("d/other.eps").message, "same output name as " + root.filePath("in/c/other.eps"));
    }

    void inputsThatAreNoFilesAreReportedAndTheRestGoOn()
    {
        QTemporaryDir root;
        QDir().mkpath(root.filePath("in/folder.eps"));
        WriteBytes(root.filePath("in/good.eps"), ReadBytes(TestDataPath("text.eps")));
        QVERIFY(::mkfifo(QFile::encodeName(root.filePath("in/fifo.eps")).constData(), 0600) == 0);
        QVERIFY(QFile::link("/dev/zero", root.filePath("in/zero.eps")));
        QList<BatchItem> items{{root.filePath("in/gone.eps"), root.filePath("gone.jpg")},
                               {root.filePath("in/folder.eps"), root.filePath("folder.jpg")},
                               {root.filePath("in/fifo.eps"), root.filePath("fifo.jpg")},
                               {root.filePath("in/zero.eps"), root.filePath("zero.jpg")},
                               {root.filePath("in/good.eps"), root.filePath("good.jpg")}};
        BatchSettings settings;
        settings.renderer = PELLUCOR_APP_DIR "/pellucor-renderer";
        settings.workRoot = root.path();
        settings.limits.time = std::chrono::seconds(20); // far beyond what the answers may take
        const QStringList messages = ReportLines(RunBatch(items, settings));
        QCOMPARE(messages, (QStringList{"0 0 File not found: " + root.filePath("in/gone.eps"), "1 0 not a regular file",
                                        "2 0 not a regular file", "3 0 not a regular file", "4 1 "}));
        QCOMPARE(ReadBytes(root.filePath("good.jpg")), GhostscriptReference(root.filePath("in/good.eps"), 75));
    }

    void aMissingGhostscriptFailsEveryFileClearly_data()
    {
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<QString>("program");
        QTest::newRow("renderer") << "no-such-renderer" << QString();
        QTest::newRow("separate Ghostscript") << QString() << "no-such-gs";
    }
    void aMissingGhostscriptFailsEveryFileClearly()
    {
        QFETCH(QString, renderer);
        QFETCH(QString, program);
        QTemporaryDir root;
        WriteBytes(root.filePath("a.eps"), ReadBytes(TestDataPath("text.eps")));
        BatchSettings settings;
        settings.workRoot = root.path();
        settings.renderer = renderer.isEmpty() ? QString() : root.filePath(renderer);
        settings.program = program.isEmpty() ? QString() : root.filePath(program);
        const QString message = RunBatch({{root.filePath("a.eps"), root.filePath("a.jpg")}}, settings).value(0).message;
        QVERIFY2(message.contains("could not be started"), qPrintable(message));
    }

    // The options that change a file's page, its pages' files or its JPEG
    // encoding give the same images and reports in both ways of rendering.
    void imageOptionsGiveTheSameInBothWaysOfRendering_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("cropToDrawing");
        QTest::addColumn<bool>("eachPage");
        QTest::addColumn<bool>("fullChroma");
        QTest::addColumn<QStringList>("made");
        const QStringList all{"atend.jpg", "hiddenbox.jpg",    "hires.jpg",        "missingfont.jpg",
                              "text.jpg",  "threepages-1.jpg", "threepages-2.jpg", "threepages-3.jpg"};
        // Without a box of its own a file has nothing to be sized by.
        QTest::newRow("width") << 300 << false << false << false
                               << QStringList{"hiddenbox.jpg", "hires.jpg", "missingfont.jpg", "text.jpg"};
        QTest::newRow("cropped to the drawing, an image per page") << 0 << true << true << false << all;
        QTest::newRow("all of them, full colour detail") << 300 << true << true << true << all;
    }
    void imageOptionsGiveTheSameInBothWaysOfRendering()
    {
        QFETCH(int, width);
        QFETCH(bool, cropToDrawing);
        QFETCH(bool, eachPage);
        QFETCH(bool, fullChroma);
        QFETCH(QStringList, made);
        using Image = GhostscriptPolicy::Image;
        QTemporaryDir root;
        QList<BatchItem> items;
        for (const char *name :
             {"atend.eps", "hiddenbox.eps", "hires.eps", "threepages.ps", "missingfont.eps", "text.eps"}) {
            WriteBytes(root.filePath(name), ReadBytes(TestDataPath(name)));
            items.append({root.filePath(name), QFileInfo(name).completeBaseName() + ".jpg"});
        }
        BatchSettings settings;
        settings.renderer = PELLUCOR_APP_DIR "/pellucor-renderer";
        settings.workRoot = root.path();
        settings.jobs = 2;
        if (width)
            settings.width = width;
        settings.image.crop = cropToDrawing ? Image::Crop::Drawing : Image::Crop::Box;
        settings.image.chroma = fullChroma ? Image::Chroma::Full : Image::Chroma::Half;
        settings.eachPage = eachPage;

        QStringList said[2];
        QHash<QString, QByteArray> images[2];
        for (const int way : {0, 1}) {
            const QString out = root.filePath(QString::number(way));
            QDir().mkpath(out);
            QList<BatchItem> placed = items;
            for (BatchItem &item : placed)
                item.output = out + '/' + item.output;
            settings.program = way == 0 ? QString() : QString("gs");
            for (const BatchReport &report : RunBatch(placed, settings)) {
                QStringList outputs;
                for (const QString &output : report.outputs)
                    outputs << QFileInfo(output).fileName();
                said[way] << QString("%1 %2 %3 [%4] %5 %6")
                                 .arg(report.index)
                                 .arg(report.converted)
                                 .arg(report.box, outputs.join(' '), report.warnings.join(';'), report.message);
            }
            for (const QString &name : QDir(out).entryList(QDir::Files))
                images[way][name] = ReadBytes(out + '/' + name);
        }
        QCOMPARE(said[1], said[0]);
        QStringList names = images[0].keys();
        names.sort();
        QCOMPARE(names, made);
        for (auto image = images[0].cbegin(); image != images[0].cend(); ++image)
            QVERIFY2(image.value() == images[1].value(image.key()), qPrintable(image.key()));
        QCOMPARE(images[1].size(), images[0].size());
        QVERIFY(said[0].join('\n').contains("Substituting font Courier for Pellucor-NoSuchFont"));
    }

    // Pages of their own are numbered names, which another file's image may
    // have: neither replaces the other, whichever comes first.
    void aPageNeverTakesAnotherFilesName()
    {
        QTemporaryDir root;
        WriteBytes(root.filePath("a.ps"), ReadBytes(TestDataPath("threepages.ps")));
        WriteBytes(root.filePath("a-2.eps"), ReadBytes(TestDataPath("text.eps")));
        BatchSettings settings;
        settings.renderer = PELLUCOR_APP_DIR "/pellucor-renderer";
        settings.workRoot = root.path();
        settings.eachPage = true;
        settings.jobs = 2;
        const QStringList said = ReportLines(RunBatch({{root.filePath("a.ps"), root.filePath("a.jpg")},
                                                       {root.filePath("a-2.eps"), root.filePath("a-2.jpg")}},
                                                      settings));
        QCOMPARE(said, (QStringList{"0 0 a page's image would be named " + root.filePath("a-2.jpg")
                                        + ", as the image of " + root.filePath("a-2.eps"),
                                    "1 1 "}));
        QCOMPARE(ReadBytes(root.filePath("a-2.jpg")), GhostscriptReference(root.filePath("a-2.eps"), 75));
        QCOMPARE(QDir(root.path()).entryList({"*.jpg"}), QStringList{"a-2.jpg"});
    }

    // A font the user installed for themselves is read inside every sandbox,
    // so that a document finds what a plain Ghostscript finds.
    void aFontTheUserInstalledIsFound_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("the window's job") << "job";
        QTest::newRow("the warm renderer") << "renderer";
        QTest::newRow("separate runs") << "gs";
    }
    void aFontTheUserInstalledIsFound()
    {
        QFETCH(QString, way);
        QTemporaryDir root;
        const QByteArray home = qgetenv("HOME"), temp = qgetenv("TEMP");
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", home);
            qputenv("TEMP", temp);
        });
        qputenv("HOME", QFile::encodeName(root.filePath("home")));
        qputenv("TEMP", QFile::encodeName(root.filePath("temp")));
        QVERIFY(InstallOwnFont(root.filePath("home")));
        const QString eps = root.filePath("own.eps");
        WriteBytes(eps, ReadBytes(TestDataPath("ownfont.eps")));
        const QByteArray reference = GhostscriptReference(eps, 75);
        QString image = root.filePath("own.jpg");
        if (way == "job") {
            const QString folder = GhostscriptJob::WorkingFolder();
            QDir().mkpath(folder);
            GhostscriptJob::SaveStringToFile(folder + '/' + GhostscriptJob::ScriptName(),
                                             GhostscriptJob::ScriptText(75));
            QVERIFY(QFile::copy(eps, folder + '/' + GhostscriptJob::StagedInputName));
            QCOMPARE(GhostscriptJob::RunJob(folder).exitCode, 0);
            image = folder + '/' + GhostscriptJob::StagedOutputName;
        } else {
            BatchSettings settings;
            settings.renderer = PELLUCOR_APP_DIR "/pellucor-renderer";
            settings.program = way == "gs" ? way : QString();
            settings.workRoot = root.path();
            const QList<BatchReport> reports = RunBatch({{eps, image}}, settings);
            QCOMPARE(reports.size(), 1);
            QCOMPARE(reports.first().warnings, QStringList());
        }
        QVERIFY(ReadBytes(image) == reference);
    }

    void resolutionIsPassedOnlyWhenAsked()
    {
        BatchSettings settings;
        settings.image.quality = 40;
        QCOMPARE(settings.switches().join(' '),
                 QString("-dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=40 -dDOINTERPOLATE "
                         "-dGraphicsAlphaBits=4 -dEPSCrop"));
        settings.resolution = 150;
        QVERIFY(settings.switches().endsWith("-r150"));
    }
};

PELLUCOR_REGISTER_TEST(BatchEngineTest, ghostscript)
#include "tst_batchengine.moc"
