#include "support/windowfixture.h"

#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/tinyfilesystem.h"

#include "common/errorreport.h"

#include "common/filesystem.h"
#include "common/platform.h"
#include "filelist/listview.h"
#include "window/captionedprogressbar.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Done = QStringLiteral("Done.");
const QString Location = procedureLocation("Form1", "PushButton2_Click");

struct Input
{
    QString relative;
    QString data;
};

// Four inputs in three folders; the last name has two dots.
const QList<Input> FourInputs{{"in/a/shapes.eps", "shapes.eps"},
                              {"in/b/lines.eps", "lines.eps"},
                              {"in/b/text.eps", "text.eps"},
                              {"in/c/more.shapes.eps", "shapes.eps"}};

// Runs `action` the next time the run lets window events through after the
// progress caption names `fileName`, as a user's click would arrive.
void DuringEntry(Form1 &form, const QString &fileName, std::function<void()> action)
{
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(form.ProgressBar1, &CaptionedProgressBar::CaptionChanged, &form,
                                   [=](const QString &caption) {
                                       if (caption != QStringLiteral("Processing: ") + fileName)
                                           return;
                                       QObject::disconnect(*connection);
                                       QTimer::singleShot(0, action);
                                   });
}

QString ErrorReport(const QString &description, int line)
{
    return description + "\r\n" + Location + "at line " + QString::number(line)
           + "\r\rPlease email screenshot of this message to support@example.com";
}

} // namespace

class ConversionRunTest : public QObject
{
    Q_OBJECT

private slots:
    void convertsLikeGhostscriptItself_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("chosenFolder");
        QTest::addColumn<QString>("folderSuffix");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("ghostscriptQuality"); // what Ghostscript is given for it
        QTest::newRow("one, chosen folder") << 1 << true << "" << 75 << 75;
        QTest::newRow("three, chosen folder with separator") << 3 << true << "/" << 75 << 75;
        QTest::newRow("four, chosen folder, quality 30") << 4 << true << "" << 30 << 30;
        QTest::newRow("one, input folder") << 1 << false << "" << 75 << 75;
        QTest::newRow("three, input folder") << 3 << false << "" << 90 << 90;
        QTest::newRow("four, input folder") << 4 << false << "" << 75 << 75;
        // Ghostscript takes 0 for none given and writes 75; 1 is the lowest it honours.
        QTest::newRow("one, quality 0, the lowest") << 1 << true << "" << 0 << 1;
    }
    void convertsLikeGhostscriptItself()
    {
        QFETCH(int, count);
        QFETCH(bool, chosenFolder);
        QFETCH(QString, folderSuffix);
        QFETCH(int, quality);
        QFETCH(int, ghostscriptQuality);
        WindowFixture window;
        QDir().mkpath(window.path("out"));
        QStringList inputs;
        for (int i = 0; i < count; ++i)
            inputs << window.input(FourInputs.at(i).relative, FourInputs.at(i).data);
        const QByteArray inputBytes = ReadBytes(inputs.first());
        window.prepareRun(inputs, window.path("out") + folderSuffix);
        (chosenFolder ? window.form->Option1 : window.form->Option2)->setChecked(true);
        window.form->Slider1->setValue(quality);

        window.start();

        QCOMPARE(window.prompts.messages().size(), 1);
        QCOMPARE(window.prompts.messages().first().text, Done);
        for (const QString &input : inputs) {
            const QString base = QFileInfo(input).completeBaseName();
            const QString output = chosenFolder ? window.path("out/" + base + ".jpg")
                                                : QFileInfo(input).absolutePath() + "/" + base + ".jpg";
            QVERIFY2(QFileInfo::exists(output), qPrintable(output));
            QCOMPARE(ReadBytes(output), GhostscriptReference(input, ghostscriptQuality));
            if (quality == 0)
                QVERIFY(ReadBytes(output).size() < GhostscriptReference(input, 75).size());
        }
        QCOMPARE(ReadBytes(inputs.first()), inputBytes); // inputs are never changed
        const QStringList left = QDir(window.workingFolder()).entryList(QDir::Files);
        QVERIFY(!left.contains("current.eps"));
        QVERIFY(!left.contains("current.jpg"));
        QVERIFY(!window.form->Conversion().IsConverting());
    }

    void progressOfFourEntries()
    {
        WindowFixture window;
        QStringList inputs;
        for (const Input &input : FourInputs)
            inputs << window.input(input.relative, input.data);
        window.prepareRun(inputs, window.path("in"));
        QStringList seen;
        QObject::connect(window.form->ProgressBar1, &CaptionedProgressBar::CaptionChanged, [&](const QString &caption) {
            seen << QStringLiteral("%1 %2 %3")
                        .arg(window.form->ProgressBar1->value())
                        .arg(caption)
                        .arg(int(window.form->MousePointer()));
        });
        window.start();
        QCOMPARE(seen,
                 (QStringList{"25 Processing: shapes.eps 11", "50 Processing: lines.eps 11",
                              "75 Processing: text.eps 11", "100 Processing: more.shapes.eps 11", "0 Progress Bar 0"}));
        QCOMPARE(window.prompts.messages().size(), 1);
        QCOMPARE(window.prompts.messages().first().text, Done);
    }

    void progressRoundsHalvesToEven_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("percent");
        QTest::newRow("1 of 3") << 1 << 3 << 33;
        QTest::newRow("2 of 3") << 2 << 3 << 67;
        QTest::newRow("1 of 8 is 12.5") << 1 << 8 << 12;
        QTest::newRow("3 of 8 is 37.5") << 3 << 8 << 38;
        QTest::newRow("last") << 7 << 7 << 100;
    }
    void progressRoundsHalvesToEven()
    {
        QFETCH(int, index);
        QFETCH(int, count);
        QFETCH(int, percent);
        QCOMPARE(ConversionRun::ProgressPercent(index, count), percent);
    }

    void emptyListConvertsNothing()
    {
        WindowFixture window;
        window.form->Text1->setText(window.path("."));
        window.start();
        QCOMPARE(window.prompts.messages().size(), 1);
        const auto message = window.prompts.messages().first();
        QCOMPARE(message.text, QString("No files added."));
        QCOMPARE(message.title, QString("Pellucor"));
        QCOMPARE(message.buttons, int(UserPrompts::OkOnly));
        QCOMPARE(message.icon, int(UserPrompts::NoIcon));
        // The working folder is refreshed all the same.
        QVERIFY(QFileInfo::exists(window.workingFolder() + "/README.txt"));
        QVERIFY(!window.form->Conversion().IsConverting());
    }

    void missingOutputFolderStopsBothModes_data()
    {
        QTest::addColumn<bool>("chosenFolder");
        QTest::newRow("chosen folder") << true;
        QTest::newRow("input folder") << false;
    }
    void missingOutputFolderStopsBothModes()
    {
        QFETCH(bool, chosenFolder);
        WindowFixture window;
        const QString input = window.input("in/shapes.eps", "shapes.eps");
        window.prepareRun({input}, window.path("no such folder"));
        (chosenFolder ? window.form->Option1 : window.form->Option2)->setChecked(true);
        window.start();
        QCOMPARE(window.prompts.messages().size(), 1);
        QCOMPARE(window.prompts.messages().first().text,
                 QString("Folder does not exist. Please select another folder."));
        QVERIFY(!QFileInfo::exists(window.path("in/shapes.jpg")));
        QCOMPARE(window.form->ProgressBar1->Caption(), QString("Progress Bar"));
    }

    void secondPressDuringARunDoesNothing()
    {
        WindowFixture window;
        const QStringList inputs{window.input("in/a.eps", "shapes.eps"), window.input("in/b.eps", "lines.eps")};
        window.prepareRun(inputs, window.path("in"));
        bool pressed = false;
        DuringEntry(*window.form, "a.eps", [&] {
            QVERIFY(window.form->Conversion().IsConverting());
            window.start();
            pressed = true;
        });
        window.start();
        QVERIFY(pressed);
        QCOMPARE(window.prompts.messages().size(), 1);
        QCOMPARE(window.prompts.messages().first().text, Done);
        QCOMPARE(ReadBytes(window.path("in/b.jpg")), GhostscriptReference(inputs.at(1), window.form->QualityValue()));
    }

    // A folder scan, removals and a drag in the middle of a run: the list keeps
    // its entries while the run walks it, and each entry listed when the run
    // began is converted once.
    void theListStaysTheRunsWhileItIsBusy()
    {
        WindowFixture window;
        const QStringList inputs{window.input("in/a.eps", "shapes.eps"), window.input("in/b.eps", "lines.eps"),
                                 window.input("in/c.eps", "text.eps")};
        window.input("more/d.eps", "shapes.eps");
        QDir().mkpath(window.path("out"));
        window.prepareRun(inputs, window.path("out"));
        ListView *list = window.form->ListView1;
        QStringList processed;
        QObject::connect(window.form->ProgressBar1, &CaptionedProgressBar::CaptionChanged, [&](const QString &caption) {
            if (caption.startsWith("Processing: "))
                processed << caption;
        });
        DuringEntry(*window.form, "a.eps", [&] {
            window.prompts.inputAnswers.enqueue("eps");
            window.prompts.folderAnswers.enqueue(window.path("more"));
            QTest::mouseClick(window.form->PushButton3, Qt::LeftButton);
            QCOMPARE(list->Count(), 4);
            QCOMPARE(window.form->MousePointer(), PointerKind::Busy); // the scan left the run's hourglass
            QCOMPARE(window.form->cursor().shape(), Qt::WaitCursor);
            list->Select(2);
            QTest::keyClick(list, Qt::Key_Delete);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 3));
            QTest::mouseClick(window.form->PushButton6, Qt::LeftButton);
            QCOMPARE(list->Count(), 4);
            // a, being converted, moves down to where the run goes next.
            const auto centre = [&](int index) { return list->visualItemRect(list->topLevelItem(index - 1)).center(); };
            QTest::mousePress(list->viewport(), Qt::LeftButton, {}, centre(1));
            QTest::mouseMove(list->viewport(), centre(2));
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, centre(2));
            QCOMPARE(list->Text(2), inputs.at(0));
        });
        window.start();
        QCOMPARE(processed, QStringList({"Processing: a.eps", "Processing: b.eps", "Processing: c.eps"}));
        for (const QString &input : inputs) {
            const QString image = window.path("out/" + QFileInfo(input).completeBaseName() + ".jpg");
            QCOMPARE(ReadBytes(image), GhostscriptReference(input, window.form->QualityValue()));
        }
        QVERIFY(!QFileInfo::exists(window.path("out/d.jpg"))); // found during the run: for the next one
        QCOMPARE(window.prompts.messages().last().text, Done);
        // Once the run is over removals work again.
        QCOMPARE(window.form->MousePointer(), PointerKind::Default);
        list->Select(2);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(list->Count(), 3);
    }

    void entriesAddedDuringARunAreLeftForTheNext()
    {
        WindowFixture window;
        const QString first = window.input("in/a.eps", "shapes.eps");
        const QString late = window.input("in/late.eps", "text.eps");
        window.prepareRun({first}, window.path("in"));
        window.prompts.fileAnswers.enqueue({late});
        DuringEntry(*window.form, "a.eps", [&] { QTest::mouseClick(window.form->PushButton1, Qt::LeftButton); });
        window.start();
        QCOMPARE(window.form->ListView1->Count(), 2);
        QCOMPARE(window.form->ListView1->Text(2), late);
        QVERIFY(QFileInfo::exists(window.path("in/a.jpg")));
        QVERIFY(!QFileInfo::exists(window.path("in/late.jpg")));
        QCOMPARE(window.prompts.messages().last().text, Done);
    }

    void vanishedInputIsReportedAndTheRunGoesOn()
    {
        WindowFixture window;
        const QStringList inputs{window.input("in/a.eps", "shapes.eps"), window.input("in/b.eps", "lines.eps"),
                                 window.input("in/c.eps", "text.eps")};
        window.prepareRun(inputs, window.path("out"));
        QDir().mkpath(window.path("out"));
        DuringEntry(*window.form, "a.eps", [&] { QFile::remove(inputs.at(1)); });
        window.start();

        const auto messages = window.prompts.messages();
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages.at(0).text, ErrorReport("File not found: " + inputs.at(1), 160));
        QCOMPARE(messages.at(0).title, QString("Application Error"));
        QCOMPARE(messages.at(0).icon, int(UserPrompts::Exclamation));
        QVERIFY(messages.at(1).text.startsWith("Done.\r\n\r\n1 of 3 files produced no image:\r\n" + inputs.at(1)));
        QVERIFY(QFileInfo::exists(window.path("out/a.jpg")));
        QVERIFY(!QFileInfo::exists(window.path("out/b.jpg")));
        QCOMPARE(ReadBytes(window.path("out/c.jpg")), GhostscriptReference(inputs.at(2), window.form->QualityValue()));
    }

    void rejectedPostScriptIsNamedAndTheNextConverts()
    {
        WindowFixture window;
        const QStringList inputs{window.input("in/broken.eps", "broken.eps"), window.input("in/good.eps", "text.eps")};
        window.prepareRun(inputs, window.path("in"));
        // A whole image left in the working folder by an earlier run.
        QDir().mkpath(window.workingFolder());
        QFile::setPermissions(window.workingFolder(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        WriteBytes(window.workingFolder() + "/current.jpg", "\xFF\xD8 an earlier run's image \xFF\xD9");
        window.start();
        QCOMPARE(window.prompts.messages().size(), 1);
        QCOMPARE(window.prompts.messages().first().text,
                 "Done.\r\n\r\n1 of 2 files produced no image:\r\n" + inputs.at(0)
                     + " (Error: /undefined in thisnameisnotdefined)"); // Ghostscript's own words
        QVERIFY(!QFileInfo::exists(window.path("in/broken.jpg")));
        QCOMPARE(ReadBytes(window.path("in/good.jpg")),
                 GhostscriptReference(inputs.at(1), window.form->QualityValue()));
    }

    void namesThatAreNotUtf8FailAndTheirTwinConvertsAsItself()
    {
        WindowFixture window;
        const QString in = window.path("in");
        QDir().mkpath(in);
        QDir().mkpath(window.path("out"));
        const QByteArray native = QFile::encodeName(in);
        const NamedTreeRemover remover(native);
        WriteBytesNamed(native + "/caf\xe9.eps", ReadBytes(TestDataPath("text.eps"))); // café.eps in Latin-1
        const QString twin = in + QString::fromUtf8("/caf\xef\xbf\xbd.eps");         // the text it is shown as
        WriteBytes(twin, ReadBytes(TestDataPath("shapes.eps")));
        MakeFolderNamed(native + "/d\xe9j\xe0");
        WriteBytesNamed(native + "/d\xe9j\xe0/b.eps", ReadBytes(TestDataPath("lines.eps")));
        window.prompts.inputAnswers.enqueue("eps");
        window.prompts.folderAnswers.enqueue(in);
        QTest::mouseClick(window.form->PushButton3, Qt::LeftButton);
        window.form->Text1->setText(window.path("out"));
        window.start();
        QCOMPARE(window.prompts.messages().size(), 1);
        QCOMPARE(window.prompts.messages().first().text,
                 "Done.\r\n\r\n2 of 3 files produced no image:\r\n" + twin + " (the name is not valid UTF-8)\r\n" + in
                     + QString::fromUtf8("/d\xef\xbf\xbdj\xef\xbf\xbd")
                     + " (the folder's name is not valid UTF-8, so it was not searched)");
        const QString image = QString::fromUtf8("caf\xef\xbf\xbd.jpg");
        QCOMPARE(QDir(window.path("out")).entryList(QDir::Files | QDir::Hidden), QStringList{image});
        QCOMPARE(ReadBytes(window.path("out/" + image)), GhostscriptReference(twin, window.form->QualityValue()));
    }

    void closingMessageNamesTheFirstFewFailures()
    {
        QList<FailedEntry> failed;
        for (int i = 1; i <= 12; ++i)
            failed.append({QString("/in/%1.eps").arg(i), "Ghostscript produced no image"});
        const QString message = ConversionRun::ClosingMessage(15, failed);
        QVERIFY(message.startsWith("Done.\r\n\r\n12 of 15 files produced no image:\r\n/in/1.eps ("));
        QVERIFY(message.contains("/in/10.eps"));
        QVERIFY(!message.contains("/in/11.eps"));
        QVERIFY(message.endsWith("\r\nand 2 more"));
        QCOMPARE(ConversionRun::ClosingMessage(3, {}), QString("Done."));
    }

    void aJobPastTheTimeLimitIsStoppedAndCountsAsFailed()
    {
        WindowFixture window;
        QTemporaryDir application;
        QDir().mkpath(application.filePath("ps"));
        // Spins in the shell: the sandbox lets it start no other program.
        WriteScript(application.filePath("ps/gs"), "while :; do :; done\n");
        FileSystem::SetApplicationFolder(application.path());
        window.form->Conversion().setJobTimeLimit(std::chrono::milliseconds(500));
        const QString input = window.input("in/a.eps", "shapes.eps");
        window.prepareRun({input}, window.path("in"));
        window.start();
        QCOMPARE(window.prompts.messages().size(), 1);
        QCOMPARE(window.prompts.messages().first().text,
                 "Done.\r\n\r\n1 of 1 files produced no image:\r\n" + input + " (stopped after running 0.5 seconds)");
        QTRY_COMPARE(FindGhostscriptIn(window.workingFolder()), 0);
        QVERIFY(!QFileInfo::exists(window.workingFolder() + "/current.eps"));
        QVERIFY(!QFileInfo::exists(window.path("in/a.jpg")));
    }

    void aSecondInstanceWaitsForTheWorkingFolder()
    {
        WindowFixture window;
        const QString input = window.input("in/a.eps", "shapes.eps");
        window.prepareRun({input}, window.path("in"));
        Platform::FileLock other(window.workingFolder() + ".lock"); // another instance's run
        QVERIFY(other.tryLock());
        bool sawWaiting = false;
        QObject::connect(window.form->ProgressBar1, &CaptionedProgressBar::CaptionChanged, [&](const QString &caption) {
            if (caption != ConversionRun::WaitingCaption)
                return;
            sawWaiting = true;
            QCOMPARE(window.form->MousePointer(), PointerKind::Busy);
            QVERIFY(!QFileInfo::exists(window.workingFolder() + "/README.txt")); // not touched while locked
            QTimer::singleShot(300, [&] { other.unlock(); });
        });
        window.start();
        QVERIFY(sawWaiting);
        QCOMPARE(window.prompts.messages().last().text, Done);
        QCOMPARE(ReadBytes(window.path("in/a.jpg")), GhostscriptReference(input, window.form->QualityValue()));
    }

    void aFullOutputDiskKeepsTheOldImageWhole()
    {
        TinyFileSystem disk(64);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.why()));
        WindowFixture window;
        const QString input = window.input("in/shapes.eps", "shapes.eps");
        WriteBytes(disk.path() + "/shapes.jpg", "old image");
        disk.fill();
        window.prepareRun({input}, disk.path());
        window.form->Slider1->setValue(100);
        window.start();
        const auto messages = window.prompts.messages();
        QCOMPARE(messages.size(), 2);
        QVERIFY2(messages.at(0).text.startsWith("Disk full: " + disk.path() + "/shapes.jpg\r\n" + Location
                                                + "at line 180"),
                 qPrintable(messages.at(0).text));
        QVERIFY(messages.at(1).text.contains(input + " (the image could not be saved as "));
        QCOMPARE(ReadBytes(disk.path() + "/shapes.jpg"), QByteArray("old image"));
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"filler", "shapes.jpg"}));
    }

    void withNeitherOptionTheChosenFolderServes()
    {
        WindowFixture window;
        const QString input = window.input("in/a.eps", "shapes.eps");
        QDir().mkpath(window.path("out"));
        window.prepareRun({input}, window.path("out"));
        window.form->Option1->setAutoExclusive(false);
        window.form->Option1->setChecked(false);
        window.form->Option2->setChecked(false);
        window.start();
        QCOMPARE(window.prompts.messages().first().text, Done);
        QVERIFY(QFileInfo::exists(window.path("out/a.jpg")));
        QVERIFY(!QFileInfo::exists(window.path("in/a.jpg")));
    }

    void anUnusableWorkingFolderIsReportedOnce_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("pipe");
        QTest::addColumn<int>("line");
        QTest::newRow("a file at the working folder's name") << "temp/ps" << false << 108;
        // In a TEMP others may write to, anyone may put one there: refused, not waited on.
        QTest::newRow("a pipe at the lock's name") << "temp/ps.lock" << true << 106;
    }
    void anUnusableWorkingFolderIsReportedOnce()
    {
        QFETCH(QString, name);
        QFETCH(bool, pipe);
        QFETCH(int, line);
        WindowFixture window;
        const QString planted = window.path(name);
        if (pipe)
            QCOMPARE(::mkfifo(QFile::encodeName(planted).constData(), 0666), 0);
        else
            WriteBytes(planted, "a file where the working folder should be");
        // Frees a run that waits on the pipe, should it: the test then fails rather than hangs.
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (int round = 0; round < 30 && !done; ++round)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (pipe && !done)
                ::close(::open(QFile::encodeName(planted).constData(), O_WRONLY | O_NONBLOCK));
        });
        window.prepareRun({window.input("in/a.eps", "shapes.eps"), window.input("in/b.eps", "text.eps")},
                          window.path("in"));
        window.start();
        done = true;
        writer.join();
        const auto messages = window.prompts.messages();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().text.contains(Location + QString("at line %1").arg(line)),
                 qPrintable(messages.first().text));
        QVERIFY(messages.first().text.contains(planted));
        QVERIFY(!window.form->Conversion().IsConverting());
        QCOMPARE(window.form->MousePointer(), PointerKind::Default);
    }
};

PELLUCOR_REGISTER_TEST(ConversionRunTest, ghostscript)
#include "tst_conversionrun.moc"
