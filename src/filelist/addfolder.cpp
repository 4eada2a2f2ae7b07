#include "addfolder.h"

#include "common/userprompts.h"

namespace AddFolder {

QString BrowseForFolder(qintptr ownerWindow, const QString &prompt, const QString &startFolder)
{
    Q_UNUSED(ownerWindow); // the prompts know the main window
    return Prompts().ChooseFolder(prompt, startFolder);
}

} // namespace AddFolder
