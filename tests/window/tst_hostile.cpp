#include "support/hostilecorpus.h"
#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "common/filesystem.h"
#include "sandbox/sandbox.h"
#include "engine/ghostscriptjob.h"
#include "filelist/listview.h"

#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include <algorithm>

namespace {

// Snapshot of everything a run may not touch: all but the output folder, the
// working folder with its lock, and the window's own settings. The output
// folder ends in a slash, or "outside" would go unwatched with it.
QString Untouchable(const WindowFixture &window)
{
    return FolderSnapshot(window.root(), {window.path("out") + u'/', window.workingFolder(), window.path("config")});
}

// A corpus file's name as a failure message can show it.
QString Printable(const HostileFile &file)
{
    return QString(file.name).replace(u'\n', QStringLiteral("\\n"));
}

} // namespace

class HostileInputTest : public QObject
{
    Q_OBJECT

private slots:
    // The whole corpus in one run, each hostile file followed by a harmless
    // one: what a hostile file does or leaves behind must reach neither
    // anything outside the output folder nor the next file's image.
    void hostileCorpusHarmsNothing()
    {
        WindowFixture window;
        const QString outside = window.path("outside");
        PrepareOutside(outside);
        // The corpus aims at this window's real paths.
        const QString script = window.workingFolder() + "/" + GhostscriptJob::ScriptName();
        const QList<HostileFile> corpus = HostileCorpus(outside, script);
        QDir().mkpath(window.path("in"));
        QDir().mkpath(window.path("out"));
        // Different pictures in turn, so that an image left over from one
        // harmless file cannot pass for the next one's.
        const QStringList harmless{"shapes.eps", "text.eps", "lines.eps"};
        QStringList inputs;
        for (qsizetype i = 0; i < corpus.size(); ++i) {
            inputs << WriteHostileFile(window.path("in"), corpus.at(i));
            inputs << window.input(QString("in/after-%1.eps").arg(int(i), 2, 10, QLatin1Char('0')),
                                   harmless.at(i % harmless.size()));
        }
        window.prepareRun(inputs, window.path("out"));
        window.form->Conversion().setJobTimeLimit(std::chrono::seconds(3)); // the endless files wait it out
        const QString untouchable = Untouchable(window);

        window.start();

        QCOMPARE(Untouchable(window), untouchable); // nothing created, changed or deleted; inputs as they were
        QCOMPARE(ReadBytes(outside + "/sentinel.txt"), QByteArray("keep me"));
        QVERIFY(!QFileInfo::exists(window.workingFolder() + "/owned"));
        QCOMPARE(ReadBytes(script), (GhostscriptJob::ScriptText(window.form->QualityValue()) + "\n").toUtf8());
        QVERIFY(!window.form->Conversion().IsConverting());

        const int quality = window.form->QualityValue();
        QHash<QByteArray, QByteArray> references; // by content: the corpus repeats a few pictures
        const auto reference = [&](const QString &input) {
            const QByteArray content = ReadBytes(input);
            if (!references.contains(content))
                references.insert(content, GhostscriptReference(input, quality));
            return references.value(content);
        };
        const auto image = [&](const QString &input) {
            return window.path("out/" + QFileInfo(input).completeBaseName() + ".jpg");
        };
        QStringList failed, images;
        for (qsizetype i = 0; i < corpus.size(); ++i) {
            const HostileFile &file = corpus.at(i);
            const QString hostile = inputs.at(2 * i), after = inputs.at(2 * i + 1);
            if (file.converts) {
                QVERIFY2(ReadBytes(image(hostile)) == reference(hostile), qPrintable(Printable(file)));
                images << QFileInfo(image(hostile)).fileName();
            } else {
                QVERIFY2(!QFileInfo::exists(image(hostile)), qPrintable(Printable(file)));
                failed << hostile;
            }
            QVERIFY2(ReadBytes(image(after)) == reference(after), qPrintable("the file after " + Printable(file)));
            images << QFileInfo(image(after)).fileName();
        }
        QStringList made = QDir(window.path("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        made.sort();
        images.sort();
        QCOMPARE(made, images); // nothing half-written or under another name

        // The closing message counts the failures and names the first ten, in order.
        const QString closing = window.prompts.messages().last().text;
        const QStringList lines = closing.split("\r\n");
        const qsizetype named = std::min<qsizetype>(failed.size(), 10);
        QVERIFY2(lines.size() >= 3 + named, qPrintable(closing));
        const QString count = QString("%1 of %2 files produced no image:").arg(failed.size()).arg(inputs.size());
        QCOMPARE(lines.mid(0, 3), QStringList({"Done.", "", count}));
        for (qsizetype i = 0; i < named; ++i)
            QVERIFY2(lines.at(3 + i).startsWith(failed.at(i) + " (") && lines.at(3 + i).endsWith(u')'),
                     qPrintable(failed.at(i) + " is not named in:\n" + closing));
        QCOMPARE(lines.mid(3 + named), failed.size() > named
                                           ? QStringList{QString("and %1 more").arg(failed.size() - named)}
                                           : QStringList());
    }

    // What an earlier job may leave in the working folder, for the run after it.
    void whatAnEarlierJobLeftIsGone_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("a folder at the staged input") << QStringList{"current.eps"} << QStringList();
        QTest::newRow("a folder at the image") << QStringList{"current.jpg"} << QStringList();
        QTest::newRow("a folder at the script") << QStringList{"eps2jpg.sh"} << QStringList();
        QTest::newRow("folders within folders, closed")
            << QStringList{"current.eps/inner/deeper", "tmp/x"} << QStringList{"current.eps/inner/f.txt"};
    }
    void whatAnEarlierJobLeftIsGone()
    {
        QFETCH(QStringList, folders);
        QFETCH(QStringList, files);
        WindowFixture window;
        FileSystem::EnsurePrivateFolder(window.workingFolder());
        for (const QString &folder : folders)
            QVERIFY(QDir().mkpath(window.workingFolder() + "/" + folder));
        for (const QString &file : files)
            WriteScript(window.workingFolder() + "/" + file, "exit 0\n");
        for (const QString &folder : folders) // as closed as its maker could leave it
            QFile::setPermissions(window.workingFolder() + "/" + folder, {});
        QDir().mkpath(window.path("out"));
        const QString first = window.input("in/first.eps", "shapes.eps");
        const QString second = window.input("in/second.eps", "text.eps");
        window.prepareRun({first, second}, window.path("out"));
        window.start();
        QCOMPARE(window.prompts.messages().last().text, QString("Done."));
        QCOMPARE(window.prompts.messages().size(), 1); // no report of a failed step either
        const int quality = window.form->QualityValue();
        QCOMPARE(ReadBytes(window.path("out/first.jpg")), GhostscriptReference(first, quality));
        QCOMPARE(ReadBytes(window.path("out/second.jpg")), GhostscriptReference(second, quality));
    }

#ifdef PELLUCOR_COMPROMISED_GS
    void aCompromisedGhostscriptIsConfined_data()
    {
        QTest::addColumn<QByteArray>("landlockAbi");
        QTest::addColumn<QByteArray>("namespaces");
        QTest::newRow("this kernel") << QByteArray() << QByteArray();
        // Landlock's signal scopes came with version 6: seccomp and the
        // namespaces hold without them.
        QTest::newRow("without Landlock's scopes") << QByteArray("5") << QByteArray();
        QTest::newRow("without scopes or namespaces") << QByteArray("5") << QByteArray("off");
    }
    void aCompromisedGhostscriptIsConfined()
    {
        QFETCH(QByteArray, landlockAbi);
        QFETCH(QByteArray, namespaces);
        if (!KernelConfinesFiles())
            QSKIP("this kernel cannot confine Ghostscript fully");
        const bool ownNamespaces = Sandbox::namespacesAvailable() && namespaces.isEmpty();
        QTemporaryDir home, application;
        WriteBytes(home.filePath("secret.txt"), "the launch code is 0000");
        QDir().mkpath(application.filePath("ps"));
        QVERIFY(QFile::copy(PELLUCOR_COMPROMISED_GS, application.filePath("ps/gs")));
        LoopbackListener listener;
        const EnvironmentScope environment{{"HOME", QFile::encodeName(home.path())},
                                           {"PELLUCOR_TEST_LISTENER_PORT", QByteArray::number(listener.port())},
                                           {"PELLUCOR_LANDLOCK_ABI", landlockAbi},
                                           {"PELLUCOR_NAMESPACES", namespaces}};
        const auto planted = [] {
            return QDir(QDir::tempPath()).entryList({"pellucor-compromised-*"}, QDir::Files | QDir::Hidden);
        };
        const QStringList plantedBefore = planted();
        const Bystanders bystanders;

        WindowFixture window([&](WindowFixture &) { FileSystem::SetApplicationFolder(application.path()); });
        QDir().mkpath(window.path("out"));
        // Each entry after the first runs the script the one before rewrote,
        // beside what it left: a folder at the staged name, a process that
        // stages a picture of its own, as many processes as it could make.
        const QStringList inputs{window.input("in/shapes.eps", "shapes.eps"), window.input("in/text.eps", "text.eps"),
                                 window.input("in/lines.eps", "lines.eps")};
        window.prepareRun(inputs, window.path("out"));
        window.start();
        QCOMPARE(window.prompts.messages().last().text, QString("Done."));
        const int made = ReadBytes(window.workingFolder() + "/forks.txt").trimmed().toInt();
        QVERIFY2(made > 0 && (!ownNamespaces || RunningAsRoot() || made < int(GhostscriptPolicy::ProcessLimit)),
                 qPrintable(QString::number(made)));

        // The next run, with the system's Ghostscript, in the same working folder.
        FileSystem::SetApplicationFolder(PELLUCOR_APP_DIR);
        window.form->ListView1->Clear();
        const QStringList later{window.input("in/later-shapes.eps", "shapes.eps"),
                                window.input("in/later-text.eps", "text.eps")};
        window.prepareRun(later, window.path("out"));
        window.start();
        QCOMPARE(window.prompts.messages().last().text, QString("Done."));

        const int quality = window.form->QualityValue();
        for (const QString &input : inputs + later) {
            const QByteArray image = ReadBytes(window.path("out/" + QFileInfo(input).completeBaseName() + ".jpg"));
            QVERIFY2(image == GhostscriptReference(input, quality), qPrintable(input));
            QVERIFY(!image.contains("launch code"));
        }
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"secret.txt"});
        QCOMPARE(planted(), plantedBefore);
        QVERIFY(!listener.connectionWaiting());
        QVERIFY(!ReadBytes(window.workingFolder() + "/id.txt").contains("uid="));
        QVERIFY(!ReadBytes(window.workingFolder() + "/id-loader.txt").contains("uid="));
        QTRY_COMPARE(ProcessesIn(window.root(), "gs"), QList<qint64>());
        QCOMPARE(bystanders.reached(), QStringList());
    }

    // Its image a link to a picture of the user's, on a kernel where nothing
    // refuses to make one: the file has no image, and the picture is no one's.
    void anImageThatIsALinkIsNoImage()
    {
        QTemporaryDir application;
        QDir().mkpath(application.filePath("ps"));
        QVERIFY(QFile::copy(PELLUCOR_COMPROMISED_GS, application.filePath("ps/gs")));
        WindowFixture window([&](WindowFixture &) { FileSystem::SetApplicationFolder(application.path()); });
        WriteBytes(window.path("photo.jpg"), GhostscriptReference(TestDataPath("text.eps"), 75));
        const EnvironmentScope environment{{"PELLUCOR_TEST_PAGE_LINK",
                                            "current.eps=" + window.path("photo.jpg").toUtf8()},
                                           {"PELLUCOR_LANDLOCK_ABI", "0"}};
        QDir().mkpath(window.path("out"));
        window.prepareRun({window.input("in/shapes.eps", "shapes.eps")}, window.path("out"));
        window.start();
        QVERIFY2(window.prompts.messages().last().text.endsWith(
                     "shapes.eps (Ghostscript left something other than an image: current.jpg)"),
                 qPrintable(window.prompts.messages().last().text));
        QCOMPARE(QDir(window.path("out")).entryList(QDir::Files), QStringList());
    }
#endif
};

PELLUCOR_REGISTER_TEST(HostileInputTest, ghostscript)
#include "tst_hostile.moc"
