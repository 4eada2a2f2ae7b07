#include "jsonreport.h"

#include "batchcommandline.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

void JsonReport::open(const QString &path)
{
    const bool opened = path == QLatin1String("-")
                            ? m_file.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)
                            : (m_file.setFileName(path),
                               m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered));
    if (!opened)
        throw UsageError(QStringLiteral("the report %1 cannot be written: %2").arg(path, m_file.errorString()));
}

void JsonReport::add(const BatchItem &item, const BatchReport &report)
{
    if (!m_file.isOpen())
        return;
    const QString status = report.converted ? QStringLiteral("converted")
                           : report.skipped ? QStringLiteral("skipped")
                                            : QStringLiteral("failed");
    qint64 bytes = report.skipped ? QFileInfo(item.output).size() : 0;
    for (const QString &output : report.outputs)
        bytes += QFileInfo(output).size();
    QJsonObject line{{QStringLiteral("input"), item.input},
                     {QStringLiteral("output"), item.output},
                     {QStringLiteral("status"), status},
                     {QStringLiteral("seconds"), qRound(report.seconds * 1000) / 1000.0},
                     {QStringLiteral("bytes"), bytes}};
    // A file of several pages, each in an image of its own: every one of them.
    if (report.outputs.size() > 1)
        line.insert(QStringLiteral("outputs"), QJsonArray::fromStringList(report.outputs));
    if (!report.box.isEmpty())
        line.insert(QStringLiteral("box"), report.box);
    if (!report.warnings.isEmpty())
        line.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(report.warnings));
    if (!report.converted && !report.skipped)
        line.insert(QStringLiteral("reason"), report.message);
    m_waiting.insert(report.index, QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    while (!m_waiting.isEmpty() && m_waiting.firstKey() == m_next) {
        write(m_waiting.take(m_next));
        ++m_next;
    }
}

void JsonReport::finish()
{
    for (const QByteArray &line : std::as_const(m_waiting))
        write(line);
    m_waiting.clear();
}

void JsonReport::write(const QByteArray &line)
{
    m_file.write(line);
    m_file.flush();
}
