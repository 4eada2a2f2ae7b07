// What holds only on Windows: the settings where earlier versions kept them,
// the job script as the command interpreter runs it, the job object around
// every job, and conversions with the Ghostscript that ships in ps\.
#include "support/testfiles.h"
#include "support/testregistry.h"
#include "support/windowfixture.h"

#include "common/filesystem.h"
#include "engine/ghostscriptjob.h"
#include "engine/settingsstore.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

namespace {

const QString RegistryGroup =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Veltranix\\Pellucor");

bool ProcessRunning(DWORD pid)
{
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return false;
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

// A working folder as a run leaves it before its first job: the
// application folder's Ghostscript beside the script.
struct Workplace
{
    QTemporaryDir root;
    QString folder = root.filePath(QStringLiteral("ps"));

    Workplace()
    {
        QDir().mkpath(folder);
        QFile::copy(QStringLiteral(PELLUCOR_APP_DIR "/ps/gswin32c.exe"), file(QStringLiteral("gswin32c.exe")));
    }
    QString file(const QString &name) const { return folder + u'/' + name; }
};

QStringList SampleFiles()
{
    QStringList samples;
    const QDir folder(QStringLiteral(PELLUCOR_APP_DIR "/Samples"));
    for (const QString &name : folder.entryList({QStringLiteral("*.eps")}, QDir::Files, QDir::Name))
        samples << QDir::toNativeSeparators(folder.filePath(name)); // as the window lists them
    return samples;
}

} // namespace

class WindowsSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void keysLiveWhereEarlierVersionsKeptThem()
    {
        QSettings(RegistryGroup, QSettings::NativeFormat).remove(QString());
        // As an earlier version left it.
        QSettings(RegistryGroup, QSettings::NativeFormat)
            .setValue(SettingsStore::OutputFolder, QStringLiteral("C:\\earlier\\"));
        QCOMPARE(SettingsStore::ReadSetting(SettingsStore::OutputFolder), QStringLiteral("C:\\earlier\\"));

        SettingsStore::WriteSetting(SettingsStore::JPGQuality, QStringLiteral("33"));
        SettingsStore::WriteSetting(SettingsStore::Option2, QStringLiteral("True"));
        // Text values, as the earlier versions read them.
        QProcess query;
        query.start(QStringLiteral("reg.exe"),
                    {QStringLiteral("query"),
                     QString(RegistryGroup).replace(QStringLiteral("HKEY_CURRENT_USER"), QStringLiteral("HKCU"))});
        QVERIFY(query.waitForFinished(30000));
        const QString listed = QString::fromLocal8Bit(query.readAllStandardOutput()).simplified();
        QVERIFY2(listed.contains(QStringLiteral("JPGQuality REG_SZ 33")), qPrintable(listed));
        QVERIFY2(listed.contains(QStringLiteral("Option2 REG_SZ True")), qPrintable(listed));
        QVERIFY2(listed.contains(QStringLiteral("Output Folder REG_SZ C:\\earlier\\")), qPrintable(listed));
        QSettings(RegistryGroup, QSettings::NativeFormat).remove(QString());
    }
};

class WindowsJobTest : public QObject
{
    Q_OBJECT

private slots:
    void theCommandInterpreterRunsTheScriptAsWritten()
    {
        Workplace work;
        const QString script = work.file(GhostscriptJob::ScriptName());
        GhostscriptJob::SaveStringToFile(script, GhostscriptJob::ScriptText(75));
        QCOMPARE(ReadBytes(script),
                 QByteArray("gswin32c -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=75 -dDOINTERPOLATE "
                            "-dGraphicsAlphaBits=4 -dEPSCrop -sOutputFile=current.jpg current.eps\r\n"
                            "del current.eps\r\n"));
        QVERIFY(QFile::copy(TestDataPath(QStringLiteral("shapes.eps")), work.file(GhostscriptJob::StagedInputName)));
        QCOMPARE(GhostscriptJob::RunJob(work.folder), Shell32::WaitResult{}); // exited with 0, said nothing
        QCOMPARE(ReadBytes(work.file(GhostscriptJob::StagedOutputName)),
                 GhostscriptReference(TestDataPath(QStringLiteral("shapes.eps")), 75));
        QVERIFY(!QFileInfo::exists(work.file(GhostscriptJob::StagedInputName)));
    }

    void whatAJobStartedEndsWithIt()
    {
        Workplace work;
        GhostscriptJob::SaveStringToFile(work.file(GhostscriptJob::ScriptName()), LingererStart());
        QCOMPARE(GhostscriptJob::RunJob(work.folder), Shell32::WaitResult{}); // exited with 0, said nothing
        const DWORD pid = DWORD(ReadBytes(work.file(QStringLiteral("lingerer.pid"))).trimmed().toULong());
        QVERIFY(pid != 0);
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessRunning(pid), 5000);
    }

    void aJobPastItsTimeLimitEndsWithAllItStarted()
    {
        Workplace work;
        GhostscriptJob::SaveStringToFile(work.file(GhostscriptJob::ScriptName()),
                                         LingererStart() + QStringLiteral("\r\n\"%1\" own.pid").arg(Lingerer()));
        QCOMPARE(GhostscriptJob::RunJob(work.folder, std::chrono::seconds(5)).ending, RunEnding::TimedOut);
        for (const char *name : {"lingerer.pid", "own.pid"}) {
            const DWORD pid = DWORD(ReadBytes(work.file(QString::fromLatin1(name))).trimmed().toULong());
            QVERIFY2(pid != 0, name);
            QTRY_VERIFY_WITH_TIMEOUT(!ProcessRunning(pid), 5000);
        }
    }

private:
    static QString Lingerer() { return QDir::toNativeSeparators(QStringLiteral(PELLUCOR_LINGERER)); }

    // A script that leaves the lingerer running and ends once it has said
    // who it is.
    static QString LingererStart()
    {
        return QStringLiteral("start \"\" \"%1\" lingerer.pid\r\n:wait\r\nif not exist lingerer.pid goto wait")
            .arg(Lingerer());
    }
};

class WindowsConversionTest : public QObject
{
    Q_OBJECT

private slots:
    void theWindowConvertsTheSamples()
    {
        WindowFixture window;
        QDir().mkpath(window.path(QStringLiteral("out")));
        const QStringList samples = SampleFiles();
        QVERIFY(samples.size() >= 4);
        window.prepareRun(samples, window.path(QStringLiteral("out")));
        window.start();
        QCOMPARE(window.prompts.messages().last().text, QStringLiteral("Done."));
        for (const QString &sample : samples) {
            const QString image = window.path(QStringLiteral("out/") + QFileInfo(sample).completeBaseName() + ".jpg");
            QVERIFY2(ReadBytes(image) == GhostscriptReference(sample, window.form->QualityValue()), qPrintable(sample));
        }
    }

    void pellucorBatchConvertsTheSamples()
    {
        QTemporaryDir home;
        QDir().mkpath(home.filePath(QStringLiteral("out")));
        QDir().mkpath(home.filePath(QStringLiteral("temp")));
        QProcess batch;
        batch.setProcessEnvironment(ConverterEnvironment(home.path()));
        batch.start(QStringLiteral(PELLUCOR_APP_DIR "/pellucor-batch.exe"),
                    {QStringLiteral("--quality"), QStringLiteral("75"), QStringLiteral("--output"),
                     home.filePath(QStringLiteral("out")), QStringLiteral(PELLUCOR_APP_DIR "/Samples")});
        QVERIFY(batch.waitForFinished(600000));
        QVERIFY2(batch.exitCode() == 0, batch.readAllStandardError().constData());
        for (const QString &sample : SampleFiles()) {
            const QString image = home.filePath(QStringLiteral("out/") + QFileInfo(sample).completeBaseName() + ".jpg");
            QVERIFY2(ReadBytes(image) == GhostscriptReference(sample, 75), qPrintable(sample));
        }
    }
};

PELLUCOR_REGISTER_TEST(WindowsSettingsTest, unit)
PELLUCOR_REGISTER_TEST(WindowsJobTest, ghostscript)
PELLUCOR_REGISTER_TEST(WindowsConversionTest, ghostscript)
#include "tst_windows.moc"
