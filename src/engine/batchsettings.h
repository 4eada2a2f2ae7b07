#pragma once

#include "ghostscriptjob.h"
#include "settingsstore.h"
#include "sandbox/ghostscriptpolicy.h"

#include <QString>
#include <QStringList>

#include <optional>

// How a batch converts: the image's settings, how many files at once, and
// the bounds of one file.
struct BatchSettings
{
    GhostscriptPolicy::Image image = defaultImage();
    std::optional<int> resolution; // dots per inch; Ghostscript's default without it
    std::optional<int> width;      // pixels: each image fits inside width × height, its
    std::optional<int> height;     // resolution made to fit from its box
    double margin = 0;             // points around the drawing, when cropped to it
    bool eachPage = false;         // an image per page, rather than all in one file
    int jobs = 1;
    GhostscriptPolicy::Limits limits;
    QString renderer; // the warm renderer program
    QString program;  // when set, a separate run of this Ghostscript per file instead of the renderer
    QString workRoot; // the workers' folders go below it
    bool makeOutputFolders = false; // an image's folder is made when it is missing, below outputFolder
    QString outputFolder;

    bool sized() const { return width || height; }

    // The window's image: its default quality, from the settings' table.
    static GhostscriptPolicy::Image defaultImage()
    {
        GhostscriptPolicy::Image image;
        image.quality = SettingsStore::ToQuality(SettingsStore::DefaultOf(SettingsStore::JPGQuality));
        return image;
    }

    // The switches a separate run of one file is given.
    QStringList switches() const
    {
        QStringList result = GhostscriptJob::GhostscriptSwitches(image);
        if (resolution)
            result << QStringLiteral("-r%1").arg(*resolution);
        return result;
    }
};
