#include "capture/VideoOverlay.h"

#include <QPainter>

VideoOverlay::VideoOverlay(QWidget* window) : QWidget(window)
{
    setObjectName(QStringLiteral("cameraVideo"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void VideoOverlay::setFrame(const QImage& frame)
{
    m_frame = frame;
    ++m_framesShown;
    update();
}

void VideoOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    if (m_frame.size() == size())
        painter.drawImage(0, 0, m_frame);
    else
        painter.drawImage(rect(), m_frame);
}
