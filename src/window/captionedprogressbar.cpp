#include "captionedprogressbar.h"

CaptionedProgressBar::CaptionedProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
}

void CaptionedProgressBar::SetCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    setAccessibleDescription(caption); // a screen reader reads the caption; the value is its value
    update();
    emit CaptionChanged(caption);
}
