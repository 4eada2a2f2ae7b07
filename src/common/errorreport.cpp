#include "errorreport.h"

#include "contactaddresses.h"
#include "userprompts.h"

#include <exception>

QString procedureLocation(const QString &module, const QString &procedure)
{
    const QString project = module == QLatin1String("AddFolder") ? QStringLiteral("Harrowmede")
                                                                 : QStringLiteral("Quorvane");
    return QStringLiteral("in %1%2.%3.%4 ").arg(project, QStringLiteral("2021/08/31"), module, procedure);
}

QString ComposeErrorReport(const QString &description, const QString &location, int line, ReportForm form)
{
    QString text = description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") + QString::number(line);
    if (form == ReportForm::Full)
        text += QStringLiteral("\r\rPlease email screenshot of this message to ")
                + QLatin1String(ContactAddresses::SupportEmail);
    return text;
}

void ReportError(const RuntimeError &error, const QString &location, int line, ReportForm form)
{
    ShowMessage(ComposeErrorReport(error.description(), location, line, form), UserPrompts::OkOnly,
                UserPrompts::Exclamation, QStringLiteral("Application Error"));
}

GuardedProcedure::GuardedProcedure(QString location, ReportForm form, SpecialCase special)
    : m_location(std::move(location)), m_form(form), m_special(std::move(special))
{
}

bool GuardedProcedure::step(int line, const std::function<void()> &statement)
{
    if (m_ended)
        return false;
    m_line = line;
    try {
        statement();
        return true;
    } catch (const RuntimeError &error) {
        handle(error);
    } catch (const std::bad_alloc &) {
        handle(RuntimeError(RuntimeError::OutOfMemory, RuntimeError::standardText(RuntimeError::OutOfMemory)));
    } catch (const std::exception &error) {
        handle(RuntimeError(RuntimeError::InvalidCall, QString::fromLocal8Bit(error.what())));
    }
    return false;
}

bool GuardedProcedure::test(int line, const std::function<bool()> &condition)
{
    bool result = true; // a failing test is taken as passed
    step(line, [&] { result = condition(); });
    return result && !m_ended;
}

void GuardedProcedure::handle(const RuntimeError &error)
{
    if (m_special && m_special(error)) {
        m_ended = true;
        return;
    }
    ReportError(error, m_location, m_line, m_form);
}
