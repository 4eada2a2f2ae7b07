// Times the window's conversion run: the real window, offscreen, with its
// prompts scripted, converts the EPS files of a folder into another folder
// as "Start Converting To JPG" does. Prints the run's time and the job
// script's Ghostscript line, so that bench/window.sh can run plain
// Ghostscript with exactly the same switches.
#include "support/windowfixture.h"

#include "engine/ghostscriptjob.h"
#include "filelist/listview.h"
#include "sandbox/sandbox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRadioButton>
#include <QSlider>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_window INPUT-FOLDER OUTPUT-FOLDER\n");
        return 2;
    }
    Sandbox::setHelperFolder(PELLUCOR_APP_DIR);
    const QDir inputs(QString::fromLocal8Bit(argv[1]));
    const QString output = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QStringList files;
    for (const QString &name : inputs.entryList({QStringLiteral("*.eps")}, QDir::Files, QDir::Name))
        files << inputs.absoluteFilePath(name);

    WindowFixture window;
    window.prepareRun(files, output);
    window.form->Option1->setChecked(true);
    window.form->Slider1->setValue(75);
    QElapsedTimer clock;
    clock.start();
    window.start();
    const double milliseconds = clock.nsecsElapsed() / 1e6;

    const QList<ScriptedPrompts::Shown> messages = window.prompts.messages();
    if (messages.size() != 1 || messages.first().text != QStringLiteral("Done.")) {
        for (const ScriptedPrompts::Shown &message : messages)
            std::fprintf(stderr, "message: %s\n", qPrintable(message.text));
        return 1;
    }
    QFile script(window.workingFolder() + u'/' + GhostscriptJob::ScriptName());
    if (!script.open(QIODevice::ReadOnly))
        return 1;
    std::printf("files %lld\nmilliseconds %.1f\nscript %s", (long long)files.size(), milliseconds,
                script.readLine().constData());
    return 0;
}
