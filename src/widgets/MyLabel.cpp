#include "widgets/MyLabel.h"

#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace {

constexpr double kZoomStep = 0.4;
constexpr double kZoomFloor = 0.04;

} // namespace

MyLabel::MyLabel(QWidget* parent) : QLabel(parent) {}

void MyLabel::OnSelectImage(QString fileName)
{
    this->fileName = fileName;
    scale = 1.0;
    offsetX = 0;
    offsetY = 0;
    update();
}

void MyLabel::OnZoomInImage()
{
    scale += kZoomStep;
    update();
}

void MyLabel::OnZoomOutImage()
{
    scale -= kZoomStep;
    if (scale > 0)
        update();
    else
        scale = kZoomFloor; // shows at the next repaint
}

void MyLabel::OnPresetImage()
{
    scale = 1.0;
    offsetX = 0;
    offsetY = 0;
    update();
}

void MyLabel::OnXuanZhuan()
{
    angle = angle == 0 ? 270 : angle - 90;
    update();
}

void MyLabel::zoomOutWithFloor()
{
    scale -= kZoomStep;
    if (scale <= 0)
        scale = kZoomFloor;
}

void MyLabel::refreshImage()
{
    // The user must see the file's current content, so a changed file (path, size or time) is decoded again; an
    // unchanged one is drawn from memory. A file that cannot be read gives a null image, which draws nothing.
    const QFileInfo info(fileName);
    const qint64 size = info.exists() ? info.size() : -1;
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    if (m_cacheEnabled && fileName == m_decodedPath && size == m_decodedSize && modified == m_decodedModified)
        return;
    image = size < 0 ? QImage() : QImage(fileName);
    m_decodedPath = fileName;
    m_decodedSize = size;
    m_decodedModified = modified;
}

void MyLabel::paintEvent(QPaintEvent* event)
{
    if (fileName.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    refreshImage();
    const int w = width();
    const int h = height();
    QPainter painter(this);
    painter.translate(offsetX + w / 2, offsetY + h / 2);
    painter.scale(scale, scale);
    painter.rotate(angle);
    painter.drawImage(QRect(-(w / 2), -(h / 2), w, h), image);
}

void MyLabel::mousePressEvent(QMouseEvent* event)
{
    lastX = event->pos().x();
    lastY = event->pos().y();
    dragging = true;
}

void MyLabel::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging) {
        QLabel::mouseMoveEvent(event);
        return;
    }
    setCursor(Qt::SizeAllCursor);
    offsetX += event->pos().x() - lastX;
    offsetY += event->pos().y() - lastY;
    lastX = event->pos().x();
    lastY = event->pos().y();
    update();
}

void MyLabel::mouseReleaseEvent(QMouseEvent*)
{
    dragging = false;
    setCursor(Qt::ArrowCursor);
}

void MyLabel::wheelEvent(QWheelEvent* event)
{
    if (event->angleDelta().y() > 0)
        scale += kZoomStep;
    else
        zoomOutWithFloor();
    update();
}
