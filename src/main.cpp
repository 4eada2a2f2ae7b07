#include "common/dialogprompts.h"
#include "window/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellucor"));
    QApplication::setStyle(QStringLiteral("Fusion")); // the same look on every desktop

    DialogPrompts prompts;
    SetPrompts(&prompts);

    Form1 form;
    prompts.setOwner(&form);
    form.Form_Load();
    form.show();
    return app.exec();
}
