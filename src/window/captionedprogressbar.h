#pragma once

#include <QProgressBar>
#include <QString>

// A progress bar that shows a caption of the program's choosing inside the
// bar, exactly as given (a "%" in a file name stays a "%").
class CaptionedProgressBar : public QProgressBar
{
    Q_OBJECT

public:
    explicit CaptionedProgressBar(QWidget *parent = nullptr);

    QString Caption() const { return m_caption; }
    void SetCaption(const QString &caption);
    QString text() const override { return m_caption; }

signals:
    void CaptionChanged(const QString &caption);

private:
    QString m_caption;
};
