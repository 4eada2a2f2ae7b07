#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "common/filesystem.h"
#include "filelist/listview.h"

#include <QDir>
#include <QImageReader>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString Question = QStringLiteral("Would you like this software to open the folder where these sample files "
                                        "are stored (so that you can view them before working with them)?");
const QString Shipped = QStringLiteral(PELLUCOR_APP_DIR "/Samples");

QStringList ShippedSamples()
{
    QStringList paths;
    for (const QString &name : QDir(Shipped).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase))
        paths << Shipped + "/" + name;
    return paths;
}

} // namespace

class SampleFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void firstPressAddsEverySampleSecondNothing()
    {
        WindowFixture window;
        QVERIFY(ShippedSamples().size() >= 4);
        window.prompts.messageAnswers << UserPrompts::No << UserPrompts::No;
        QTest::mouseClick(window.form->PushButton7, Qt::LeftButton);
        QCOMPARE(Entries(*window.form->ListView1), ShippedSamples());
        QTest::mouseClick(window.form->PushButton7, Qt::LeftButton);
        QCOMPARE(Entries(*window.form->ListView1), ShippedSamples());
        const auto messages = window.prompts.messages();
        QCOMPARE(messages.size(), 2);
        for (const auto &message : messages) {
            QCOMPARE(message.text, Question);
            QCOMPARE(message.buttons, int(UserPrompts::YesNo));
            QCOMPARE(message.icon, int(UserPrompts::NoIcon));
            QCOMPARE(message.title, QString("Pellucor"));
        }
        for (const auto &shown : window.prompts.shown)
            QVERIFY(shown.kind != "open folder");
    }

    void yesOpensTheFolder()
    {
        WindowFixture window;
        window.prompts.messageAnswers << UserPrompts::Yes;
        QTest::mouseClick(window.form->PushButton7, Qt::LeftButton);
        QCOMPARE(window.prompts.shown.last().kind, QString("open folder"));
        QCOMPARE(window.prompts.shown.last().text, Shipped + "/");
    }

    void whatTheSampleFolderHolds_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("missing folder") << QStringList{} << QStringList{} << QStringList{};
        QTest::newRow("empty folder") << QStringList{"keep/"} << QStringList{} << QStringList{};
        QTest::newRow("hidden and other types, no sub-folders")
            << QStringList{".hidden.eps", "notes.txt", "a.eps", "sub/inner.eps"} << QStringList{}
            << QStringList{".hidden.eps", "a.eps", "notes.txt"};
        QTest::newRow("a listed entry in another case does not count")
            << QStringList{"a.eps"} << QStringList{"<app>/SAMPLES/a.eps"} << QStringList{"a.eps"};
    }
    void whatTheSampleFolderHolds()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, added);
        QTemporaryDir application;
        for (const QString &file : files) {
            const QString path = application.filePath("Samples/" + file);
            QDir().mkpath(QFileInfo(path).absolutePath());
            if (!file.endsWith('/'))
                WriteBytes(path, "x");
        }
        WindowFixture window([&](WindowFixture &) { FileSystem::SetApplicationFolder(application.path()); });
        for (const QString &entry : listed)
            window.form->ListView1->Append(QString(entry).replace("<app>", application.path()));
        QTest::mouseClick(window.form->PushButton7, Qt::LeftButton);
        QStringList expected;
        for (const QString &entry : listed)
            expected << QString(entry).replace("<app>", application.path());
        for (const QString &name : added)
            expected << application.filePath("Samples/" + name);
        QCOMPARE(Entries(*window.form->ListView1), expected);
        QCOMPARE(window.prompts.messages().size(), 1);
        QCOMPARE(window.prompts.messages().first().text, Question);
    }

    void everySampleIsSoundEps_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString &path : ShippedSamples())
            QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
    }
    void everySampleIsSoundEps()
    {
        QFETCH(QString, path);
        const QByteArray head = ReadBytes(path).left(2048);
        QVERIFY(head.startsWith("%!PS-Adobe-3.0 EPSF-3.0"));
        const QRegularExpression box(R"(%%HiResBoundingBox:\s*([-\d.]+)\s+([-\d.]+)\s+([-\d.]+)\s+([-\d.]+))");
        const auto declared = box.match(QString::fromLatin1(head));
        QVERIFY2(declared.hasMatch(), "no HiResBoundingBox");

        // Converts cleanly with the program's switches, at the box's size.
        QTemporaryDir out;
        QProcess gs;
        gs.start("gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=jpeg", "-dJPEGQ=75", "-dDOINTERPOLATE",
                        "-dGraphicsAlphaBits=4", "-dEPSCrop", "-sOutputFile=" + out.filePath("x.jpg"), path});
        QVERIFY(gs.waitForFinished(60000));
        QCOMPARE(gs.exitCode(), 0);
        QCOMPARE(gs.readAllStandardError(), QByteArray());
        const QSize size = QImageReader(out.filePath("x.jpg")).size();
        QCOMPARE(size.width(), qRound(declared.captured(3).toDouble() - declared.captured(1).toDouble()));
        QCOMPARE(size.height(), qRound(declared.captured(4).toDouble() - declared.captured(2).toDouble()));

        // What it draws lies inside the box and fills it.
        gs.start("gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=bbox", path});
        QVERIFY(gs.waitForFinished(60000));
        const auto drawn = box.match(QString::fromLatin1(gs.readAllStandardError()));
        QVERIFY(drawn.hasMatch());
        for (int i = 1; i <= 4; ++i)
            QVERIFY2(qAbs(drawn.captured(i).toDouble() - declared.captured(i).toDouble()) <= 1.0,
                     qPrintable(drawn.captured(0) + " against " + declared.captured(0)));
    }
};

PELLUCOR_REGISTER_TEST(SampleFilesTest, ghostscript)
#include "tst_samples.moc"
