#include "support/testfiles.h"
#include "support/testregistry.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
    QString errors;
};

Run Tool(const QString &program, const QStringList &arguments, const QProcessEnvironment &extra = {})
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(extra);
    tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    Run run;
    if (!tool.waitForFinished(300000))
        return run;
    run.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    run.output = QString::fromUtf8(tool.readAllStandardOutput());
    run.errors = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

QString Report(const Run &run)
{
    return QStringLiteral("exit %1\n%2\n%3").arg(run.exitCode).arg(run.output.left(2000), run.errors.left(2000));
}

// The value of `key` in the launcher entry's main group.
QString DesktopEntryValue(const QString &desktopFile, const QString &key)
{
    for (const QString &line : QString::fromUtf8(ReadBytes(desktopFile)).split(u'\n'))
        if (line.startsWith(key + u'='))
            return line.mid(key.size() + 1);
    return {};
}

const QString DesktopFile = QStringLiteral("share/applications/com.example.pellucor.desktop");

} // namespace

// What `cmake --install` and `cpack` make of the build tree, checked with the
// tools that desktops, software centres, man and dpkg read those files with.
class InstallTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_prefix;

    QString installed(const QString &path) const { return m_prefix.filePath(path); }

private slots:
    void initTestCase()
    {
        const Run install = Tool(QStringLiteral(PELLUCOR_CMAKE),
                                 {"--install", PELLUCOR_BUILD_DIR, "--prefix", m_prefix.path()});
        QVERIFY2(install.exitCode == 0, qPrintable(Report(install)));
    }

    void installedFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("content"); // a part it must hold, where that matters
        QTest::newRow("samples") << "lib/pellucor/Samples/logo.eps" << QString();
        QTest::newRow("pointer") << "lib/pellucor/HAND-M.CUR" << QString();
        QTest::newRow("license") << "share/doc/pellucor/copyright"
                                 << "License: AGPL-3.0-or-later\n GNU AFFERO GENERAL PUBLIC LICENSE\n Version 3";
    }
    void installedFiles()
    {
        QFETCH(QString, path);
        QFETCH(QString, content);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile() && file.size() > 0, qPrintable(path));
        QVERIFY2(QString::fromUtf8(ReadBytes(file.filePath())).contains(content), qPrintable(content));
    }

    // The menu starts the command the entry names, with the icon it names.
    void launcherEntryPointsAtInstalledFiles()
    {
        const QString command = DesktopEntryValue(installed(DesktopFile), QStringLiteral("Exec")).section(u' ', 0, 0);
        const QFileInfo program(installed("bin/" + command));
        QVERIFY2(program.isExecutable(), qPrintable(command));
        QCOMPARE(program.canonicalFilePath(), QFileInfo(installed("lib/pellucor/pellucor")).canonicalFilePath());

        const QString icon = DesktopEntryValue(installed(DesktopFile), QStringLiteral("Icon"));
        for (int size : {48, 128, 256}) {
            const QString png = installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(icon));
            QCOMPARE(QImageReader(png).size(), QSize(size, size));
        }
        QVERIFY(ReadBytes(installed("share/icons/hicolor/scalable/apps/" + icon + ".svg")).contains("<svg"));
    }

    // Through the link in bin/ it finds its renderer in the application folder.
    void installedBatchConverts()
    {
        QTemporaryDir home;
        const QString input = home.filePath("shapes.eps");
        QVERIFY(QFile::copy(TestDataPath("shapes.eps"), input));
        QDir().mkpath(home.filePath("out"));
        QProcessEnvironment environment;
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        environment.insert("TEMP", home.filePath("temp"));
        const Run run = Tool(installed("bin/pellucor-batch"),
                             {"--output", home.filePath("out"), "--quality", "75", input}, environment);
        QVERIFY2(run.exitCode == 0, qPrintable(Report(run)));
        QCOMPARE(ReadBytes(home.filePath("out/shapes.jpg")), GhostscriptReference(input, 75));
    }

    void readersAcceptInstalledFiles_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("output"); // a pattern for what it prints
        // Silent when the entry is clean: hints count as faults too.
        QTest::newRow("launcher entry") << "desktop-file-validate" << QStringList{} << DesktopFile << "^$";
        // The whole tree, so the metadata's launchable must name the installed entry.
        QTest::newRow("AppStream metadata") << "appstreamcli" << QStringList{"validate-tree", "--no-net"} << "."
                                            << "Validation was successful";
        QTest::newRow("manual page") << "man" << QStringList{"--warnings", "-l"} << "share/man/man1/pellucor-batch.1.gz"
                                     << "^PELLUCOR-BATCH\\(1\\)";
    }
    void readersAcceptInstalledFiles()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, options);
        QFETCH(QString, path);
        QFETCH(QString, output);
        QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(), qPrintable(program + " is not installed"));
        const Run run = Tool(program, options << installed(path));
        QVERIFY2(run.exitCode == 0, qPrintable(Report(run)));
        // groff's warnings go to standard error, and man still succeeds.
        QVERIFY2(run.errors.isEmpty(), qPrintable(Report(run)));
        QVERIFY2(run.output.contains(QRegularExpression(output)), qPrintable(Report(run)));
    }

    void debianPackage()
    {
        QTemporaryDir out;
        const Run cpack = Tool(QStringLiteral(PELLUCOR_CPACK),
                               {"--config", PELLUCOR_BUILD_DIR "/CPackConfig.cmake", "-G", "DEB", "-B", out.path()});
        QVERIFY2(cpack.exitCode == 0, qPrintable(Report(cpack)));
        const QStringList packages = QDir(out.path()).entryList({"pellucor_*.deb"});
        QCOMPARE(packages.size(), 1);
        const QString package = out.filePath(packages.first());

        const Run fields = Tool("dpkg-deb", {"--field", package, "Package", "Depends"});
        QVERIFY2(fields.exitCode == 0, qPrintable(Report(fields)));
        QVERIFY2(fields.output.startsWith("Package: pellucor\n"), qPrintable(fields.output));
        // Named by hand, and found by dpkg-shlibdeps in what the programs link.
        for (const char *dependency :
             {"ghostscript", "fonts-liberation", "bubblewrap", "libgs10", "libqt6widgets6", "libseccomp2"})
            QVERIFY2(fields.output.contains(QRegularExpression(QStringLiteral("[ ,]%1( |,|\\n)").arg(dependency))),
                     qPrintable(dependency + (" missing in " + fields.output)));

        // Exactly what `cmake --install` puts under the prefix, and of the
        // programs only Pellucor's own: no test, benchmark or test helper.
        const Run contents = Tool("dpkg-deb", {"--contents", package});
        QVERIFY2(contents.exitCode == 0, qPrintable(Report(contents)));
        QStringList packaged;
        QStringList programs;
        for (const QString &line : contents.output.split(u'\n', Qt::SkipEmptyParts)) {
            const QString mode = line.section(u' ', 0, 0);
            const QString path =
                line.section(u' ', 5, 5, QString::SectionSkipEmpty).mid(QStringLiteral("./usr/").size());
            if (mode.startsWith(u'd'))
                continue;
            packaged << path;
            if (mode.startsWith(u'l') || mode.contains(u'x'))
                programs << path;
        }
        programs.sort();
        QCOMPARE(programs, QStringList({"bin/pellucor", "bin/pellucor-batch", "lib/pellucor/pellucor",
                                        "lib/pellucor/pellucor-batch", "lib/pellucor/pellucor-renderer",
                                        "lib/pellucor/pellucor-sandbox"}));
        QStringList expected;
        QDirIterator walk(m_prefix.path(), QDir::Files | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
        while (walk.hasNext())
            expected << QDir(m_prefix.path()).relativeFilePath(walk.next());
        packaged.sort();
        expected.sort();
        QCOMPARE(packaged, expected);
    }
};

PELLUCOR_REGISTER_TEST(InstallTest, ghostscript)
#include "tst_install.moc"
