#include "logging.h"

// Warnings show by default; the debug messages of swallowed errors on request.
Q_LOGGING_CATEGORY(lcEngine, "pellucor.engine", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFileList, "pellucor.filelist", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWindow, "pellucor.window", QtWarningMsg)
