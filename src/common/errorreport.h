#pragma once

#include "runtimeerror.h"

#include <QString>

#include <functional>

// The one report every guarded handler shows when a step fails: the error,
// where it happened, and a request to send a screenshot to support.
enum class ReportForm {
    Full,  // with the closing request line
    Short, // description, location and line only
};

// The location text a report names a guarded procedure by:
// "in <project>2021/08/31.<module>.<procedure> ", the project being
// Harrowmede for the folder walk's module AddFolder, Quorvane for the rest.
QString procedureLocation(const QString &module, const QString &procedure);

// description, CR LF, location, "at line ", number; the full form goes on
// with two CR and the request line.
QString ComposeErrorReport(const QString &description, const QString &location, int line, ReportForm form);

// Shows the report under "Application Error" with the exclamation icon.
void ReportError(const RuntimeError &error, const QString &location, int line, ReportForm form);

// A handler written as numbered steps. Each step runs through step() or
// test(); when one throws, the report names its line and the handler goes on
// with the next step, so one failure never ends a handler by itself.
class GuardedProcedure
{
public:
    // Sees an error before the report; true means it was handled (a message
    // of its own was shown) and the handler ends here.
    using SpecialCase = std::function<bool(const RuntimeError &)>;

    explicit GuardedProcedure(QString location, ReportForm form = ReportForm::Full, SpecialCase special = {});

    // Runs a statement; false when it failed (and was reported) or the
    // handler has ended.
    bool step(int line, const std::function<void()> &statement);

    // Evaluates the test of a branch or loop. A test that fails is reported
    // and counts as passed, so execution enters the branch or loop body.
    bool test(int line, const std::function<bool()> &condition);

    // True once a special case ended the handler; every later step is skipped.
    bool ended() const { return m_ended; }

private:
    void handle(const RuntimeError &error);

    QString m_location;
    ReportForm m_form;
    SpecialCase m_special;
    int m_line = 0;
    bool m_ended = false;
};
