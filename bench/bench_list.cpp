// Times the file list with 10000 entries: filling it by a dropped folder, by
// 10000 files dropped from one folder and by the folder scan, removing one
// entry, looking one up, and clearing it.
#include "support/scriptedprompts.h"
#include "support/testfiles.h"
#include "support/windowfixture.h"

#include "filelist/dropadder.h"
#include "filelist/listview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <functional>

namespace {

void Time(const char *what, const std::function<void()> &action)
{
    QElapsedTimer clock;
    clock.start();
    action();
    QApplication::processEvents(); // the repaint that follows counts too
    std::printf("%-44s %8.1f ms\n", what, clock.nsecsElapsed() / 1e6);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    WindowFixture window;
    ListView &list = *window.form->ListView1;
    const QString root = window.path(QStringLiteral("many"));
    for (int i = 0; i < 10000; ++i) {
        const QString path = QStringLiteral("%1/d%2/f%3.eps").arg(root).arg(i / 250).arg(i);
        if (i % 250 == 0)
            QDir().mkpath(QFileInfo(path).absolutePath());
        WriteBytes(path, "%!PS\n");
    }
    Time("drop a folder of 10000 files", [&] { AppendDroppedPaths(list, {root}); });
    // Each dropped path is looked at once, however full its folder is.
    const QString flat = window.path(QStringLiteral("flat"));
    QDir().mkpath(flat);
    QStringList dropped;
    for (int i = 0; i < 10000; ++i) {
        dropped << QStringLiteral("%1/f%2.eps").arg(flat).arg(i);
        WriteBytes(dropped.last(), "%!PS\n");
    }
    list.Clear();
    Time("drop 10000 files of one folder", [&] { AppendDroppedPaths(list, dropped); });
    Time("Delete the middle entry", [&] {
        list.Select(5000);
        QTest::keyClick(&list, Qt::Key_Delete);
    });
    Time("look up an entry that is not there", [&] { list.ListContains(QStringLiteral("/nowhere.eps")); });
    Time("Clear List with 9999 entries", [&] { QTest::mouseClick(window.form->PushButton6, Qt::LeftButton); });
    window.prompts.inputAnswers.enqueue(QStringLiteral("eps"));
    window.prompts.folderAnswers.enqueue(root);
    Time("scan the same folder (Add All ... In Folder)", [&] {
        QTest::mouseClick(window.form->PushButton3, Qt::LeftButton);
    });
    Time("load the samples with 10000 entries listed", [&] {
        window.prompts.messageAnswers.enqueue(UserPrompts::No);
        QTest::mouseClick(window.form->PushButton7, Qt::LeftButton);
    });
    std::printf("entries at the end: %d\n", list.Count());
    return 0;
}
