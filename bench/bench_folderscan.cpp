// Times "Add All EPS File(s) In Folder" over generated trees of growing size:
// the walk, the listing and the list's appends, as the window does them.
#include "support/scriptedprompts.h"
#include "support/testfiles.h"
#include "support/windowfixture.h"

#include "filelist/listview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("%10s %10s %12s %14s\n", "files", "folders", "scan (ms)", "per file (us)");
    for (const int files : {5000, 10000, 20000, 40000}) {
        WindowFixture window;
        const QString root = window.path(QStringLiteral("tree"));
        const int perFolder = 100;
        for (int i = 0; i < files; ++i) {
            const QString path = QStringLiteral("%1/d%2/sub/f%3.eps").arg(root).arg(i / perFolder).arg(i % perFolder);
            if (i % perFolder == 0)
                QDir().mkpath(QFileInfo(path).absolutePath());
            WriteBytes(path, "%!PS\n");
        }
        window.prompts.inputAnswers.enqueue(QStringLiteral("eps"));
        window.prompts.folderAnswers.enqueue(root);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(window.form->PushButton3, Qt::LeftButton);
        const qint64 elapsed = clock.elapsed();
        if (window.form->ListView1->Count() != files)
            std::printf("unexpected count %d\n", window.form->ListView1->Count());
        std::printf("%10d %10d %12lld %14.1f\n", files, files / perFolder * 2 + 1, elapsed, elapsed * 1000.0 / files);
    }
    return 0;
}
