#include "outputnames.h"

QString ChosenFolderBaseName(const QString &fileName)
{
    const qsizetype lastDot = fileName.lastIndexOf(u'.');
    return lastDot < 0 ? fileName : fileName.left(lastDot);
}

QString ChosenFolderOutput(const QString &chosenFolder, const QString &inputPath, PathFlavour flavour)
{
    return chosenFolder + PathSeparator(flavour) + ChosenFolderBaseName(FileNameOfPath(inputPath, flavour))
           + QStringLiteral(".jpg");
}

QString InputFolderOutput(const QString &inputPath, PathFlavour flavour)
{
    return FolderOfPath(inputPath, flavour) + PathSeparator(flavour)
           + StripExtension(FileNameOfPath(inputPath, flavour)) + QStringLiteral(".jpg");
}

QString OutputPath(const QString &inputPath, OutputMode mode, const QString &chosenFolder, PathFlavour flavour)
{
    return NormalizePath(mode == OutputMode::ChosenFolder ? ChosenFolderOutput(chosenFolder, inputPath, flavour)
                                                          : InputFolderOutput(inputPath, flavour),
                         flavour);
}
