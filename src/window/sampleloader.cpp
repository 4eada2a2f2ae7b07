#include "sampleloader.h"

#include "common/filesystem.h"
#include "common/userprompts.h"
#include "engine/pathhelpers.h"
#include "engine/addfolder.h"
#include "filelist/listview.h"

void LoadSamples(ListView &list)
{
    const QChar separator = PathSeparator();
    const QString samples = FileSystem::ApplicationFolder() + separator + QStringLiteral("Samples");
    const AddFolder::FileNameArray names = AddFolder::ListFilesInFolder(samples, QStringLiteral("*.*"));
    for (int i = 1; i <= names.UBound(); ++i) {
        const QString path = samples + separator + names[i];
        if (!names.Entry(i).faithful) { // its path names another file or none
            list.Append(path, FileSystem::NameFidelity::UnfaithfulFile);
            continue;
        }
        if (!FileExists(path) || list.ListContains(path))
            continue;
        list.Append(path);
    }
    const int answer = ShowMessage(QStringLiteral("Would you like this software to open the folder where these "
                                                  "sample files are stored (so that you can view them before "
                                                  "working with them)?"),
                                   UserPrompts::YesNo);
    if (answer == UserPrompts::Yes)
        Prompts().OpenFolder(samples + separator);
}
