#pragma once

#include <QString>
#include <QStringList>

// One file to convert and where its image goes.
struct BatchItem
{
    QString input;
    QString output;
    QString refusal = {}; // when set, the file is reported failed with this reason and never rendered
    bool upToDate = false; // its image is newer than it: reported skipped, never rendered
};

// What became of one file.
struct BatchReport
{
    int index = 0;
    bool converted = false;
    bool skipped = false; // its image was up to date
    QString message = {}; // Ghostscript's words or the reason, when there are any
    double seconds = 0;   // from the start of its rendering to its image in place
    QStringList outputs = {};  // the images written: its output, or one per page
    QString box = {};          // cropped to the drawing: which box the image shows
    QStringList warnings = {}; // the fonts Ghostscript substituted
};
