#pragma once

#include <QLoggingCategory>

// One category per area. Where the program deliberately swallows an error
// (a helper that must not fail, a drop without a report of its own), it says
// so here: QT_LOGGING_RULES="pellucor.*=true" explains what happened.
Q_DECLARE_LOGGING_CATEGORY(lcEngine)   // pellucor.engine
Q_DECLARE_LOGGING_CATEGORY(lcFileList) // pellucor.filelist
Q_DECLARE_LOGGING_CATEGORY(lcWindow)   // pellucor.window
