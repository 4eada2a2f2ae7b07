#include "window/dialogprompts.h"
#include "window/form1.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellucor"));
    QApplication::setDesktopFileName(QStringLiteral("com.example.pellucor")); // the launcher entry's name
    QApplication::setStyle(QStringLiteral("Fusion")); // the same look on every desktop

    DialogPrompts prompts;
    SetPrompts(&prompts);

    Form1 form;
    prompts.setOwner(&form);
    form.Form_Load();
    form.show();
    // Files and folders named on the command line ("Open with" in a file
    // manager) join the list as a drop of them would, once the window shows.
    if (const QStringList paths = QApplication::arguments().mid(1); !paths.isEmpty())
        QTimer::singleShot(0, &form, [&form, paths] { form.addStartPaths(paths); });
    return app.exec();
}
