#pragma once

#include "pathhelpers.h"

#include <QString>

// Where the image of an input file goes.
enum class OutputMode {
    ChosenFolder, // every image in one chosen folder
    InputFolder,  // each image beside its input file
};

// The base name of a file name in the chosen-folder mode: everything before
// the last ".", so ".eps" gives "" and a name without "." is its own base.
QString ChosenFolderBaseName(const QString &fileName);

// The chosen folder, a separator, the base name and ".jpg" (not normalised).
QString ChosenFolderOutput(const QString &chosenFolder, const QString &inputPath, PathFlavour flavour = NativeFlavour);

// The input's folder, a separator, the input's name without its extension
// and ".jpg" (not normalised: the folder already ends in a separator).
QString InputFolderOutput(const QString &inputPath, PathFlavour flavour = NativeFlavour);

// The output path for the mode, normalised, so a folder written with or
// without a trailing separator gives the same path.
QString OutputPath(const QString &inputPath, OutputMode mode, const QString &chosenFolder,
                   PathFlavour flavour = NativeFlavour);
