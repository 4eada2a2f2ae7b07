#include "support/testfiles.h"
#include "support/testregistry.h"

#include "common/filesystem.h"
#include "engine/batchengine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

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
    add("a/same.eps", data("shapes.eps"));      // two outputs named same.jpg: the later wins
    add("b/same.eps", data("text.eps"));
    add("c/other.eps", data("lines.eps"));      // the later fails: the earlier's image stays
    add("d/other.eps", data("broken.eps"));
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
        QTest::newRow("one interpreter") << 1;
        QTest::newRow("three interpreters") << 3;
    }
    void corpusGivesWhatSeparateRunsGive()
    {
        QFETCH(int, jobs);
        QTemporaryDir root;
        const Corpus corpus = MakeCorpus(root.path());
        QDir().mkpath(root.filePath("out"));
        QDir().mkpath(root.filePath("temp"));

        QList<BatchItem> items;
        for (const QString &input : corpus.inputs)
            items.append({input, root.filePath("out/" + QFileInfo(input).completeBaseName() + ".jpg")});
        BatchSettings settings;
        settings.quality = 75;
        settings.jobs = jobs;
        settings.timeLimit = std::chrono::seconds(3);
        settings.workRoot = root.filePath("temp");

        QList<BatchReport> reports;
        {
            BatchEngine engine(items, settings);
            connect(&engine, &BatchEngine::ItemDone, [&](const BatchReport &report) { reports << report; });
            engine.Run();
        }
        QCOMPARE(reports.size(), items.size());
        QVERIFY2(QDir(root.filePath("temp")).isEmpty(), "the interpreters' folders were left behind");

        // What separate runs, one after another, would have left in the output folder.
        QHash<QString, QByteArray> expected;
        QHash<int, bool> convertedExpected;
        for (int i = 0; i < items.size(); ++i) {
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
        for (const BatchItem &item : items) {
            const QByteArray bytes = ReadBytes(item.output);
            QVERIFY2(bytes == expected.value(item.output), qPrintable(item.output));
            QCOMPARE(QFileInfo::exists(item.output), expected.contains(item.output));
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
    }

    void missingInputsAreReportedAndTheRestGoOn()
    {
        QTemporaryDir root;
        QDir().mkpath(root.filePath("in/folder.eps"));
        WriteBytes(root.filePath("in/good.eps"), ReadBytes(TestDataPath("text.eps")));
        QList<BatchItem> items{{root.filePath("in/gone.eps"), root.filePath("gone.jpg")},
                               {root.filePath("in/folder.eps"), root.filePath("folder.jpg")},
                               {root.filePath("in/good.eps"), root.filePath("good.jpg")}};
        BatchSettings settings;
        settings.workRoot = root.path();
        QStringList messages;
        BatchEngine engine(items, settings);
        connect(&engine, &BatchEngine::ItemDone, [&](const BatchReport &report) {
            messages << QString("%1 %2 %3").arg(report.index).arg(report.converted).arg(report.message);
        });
        engine.Run();
        messages.sort();
        QCOMPARE(messages.size(), 3);
        QVERIFY2(messages.at(0).startsWith("0 0 File not found"), qPrintable(messages.at(0)));
        QVERIFY2(messages.at(1).startsWith("1 0 Path/File access error"), qPrintable(messages.at(1)));
        QVERIFY(messages.at(2).startsWith("2 1"));
        QCOMPARE(ReadBytes(root.filePath("good.jpg")), GhostscriptReference(root.filePath("in/good.eps"), 75));
    }

    void aMissingGhostscriptFailsEveryFileClearly()
    {
        QTemporaryDir root;
        WriteBytes(root.filePath("a.eps"), ReadBytes(TestDataPath("text.eps")));
        BatchSettings settings;
        settings.workRoot = root.path();
        settings.program = root.filePath("no-such-gs");
        BatchEngine engine({{root.filePath("a.eps"), root.filePath("a.jpg")}}, settings);
        QString message;
        connect(&engine, &BatchEngine::ItemDone, [&](const BatchReport &report) { message = report.message; });
        engine.Run();
        QVERIFY2(message.contains("could not be started"), qPrintable(message));
    }

    void resolutionIsPassedOnlyWhenAsked()
    {
        BatchSettings settings;
        settings.quality = 40;
        QCOMPARE(BatchEngine::SwitchesFor(settings).join(' '),
                 QString("-dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=40 -dDOINTERPOLATE "
                         "-dGraphicsAlphaBits=4 -dEPSCrop"));
        settings.resolution = 150;
        QVERIFY(BatchEngine::SwitchesFor(settings).endsWith("-r150"));
    }
};

PELLUCOR_REGISTER_TEST(BatchEngineTest)
#include "tst_batchengine.moc"
