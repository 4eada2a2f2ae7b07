#include "dialogprompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace {

// Messages keep their CR LF and lone CR breaks; a label wants LF.
QString forDisplay(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace

int DialogPrompts::MessageBox(const QString &text, int buttons, int icon, const QString &title)
{
    QMessageBox box(icon == Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, title, forDisplay(text),
                    buttons == YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, m_owner);
    box.setTextFormat(Qt::PlainText);
    switch (box.exec()) {
    case QMessageBox::Yes: return Yes;
    case QMessageBox::No: return No;
    default: return Ok;
    }
}

QString DialogPrompts::InputBox(const QString &prompt, const QString &title, const QString &defaultText)
{
    bool accepted = false;
    const QString answer = QInputDialog::getText(m_owner, title, forDisplay(prompt), QLineEdit::Normal, defaultText,
                                                 &accepted);
    return accepted ? answer : QString();
}

QStringList DialogPrompts::ChooseFiles(const QString &title, const QString &filter)
{
    return QFileDialog::getOpenFileNames(m_owner, title, QString(), QtFilter(filter));
}

QString DialogPrompts::ChooseFolder(const QString &prompt, const QString &startFolder)
{
    return QDir::toNativeSeparators(QFileDialog::getExistingDirectory(m_owner, prompt, startFolder));
}

void DialogPrompts::OpenWebAddress(const QString &address)
{
    QDesktopServices::openUrl(QUrl(address));
}

void DialogPrompts::OpenFolder(const QString &folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

QString DialogPrompts::QtFilter(const QString &barSeparatedFilter)
{
    const QStringList pieces = barSeparatedFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
        const QString &description = pieces.at(i);
        const QString patterns = QString(pieces.at(i + 1)).replace(u';', u' ');
        if (description.isEmpty() && patterns.isEmpty())
            continue;
        filters += description.contains(u'(' + patterns + u')') ? description
                                                                : QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return filters.join(QStringLiteral(";;"));
}
