#include "widgets/MyLabel.h"

#include <algorithm>

#include <QFileInfo>
#include <QImageReader>
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

QSize MyLabel::decodeSize(const QSize& fullSize) const
{
    // A camera page has far more pixels than the label shows: decode it at the size it is drawn (the fit, or the
    // zoomed fit), and at full resolution only once the zoom reaches the page's own pixels.
    if (!fullSize.isValid())
        return fullSize;
    const double drawn = devicePixelRatioF() * std::max(scale, 1.0);
    const QSize shown = (QSizeF(drawnSize()) * drawn).toSize().expandedTo(QSize(1, 1));
    return shown.width() >= fullSize.width() || shown.height() >= fullSize.height() ? fullSize : shown;
}

QSize MyLabel::drawnSize() const
{
    // Upright or upside down, the page fills the label. A quarter-turned page stands on its short side, so
    // stretched to the label its ends would stick out past two edges: it is drawn smaller, shape kept, until the
    // turned page fits the label whole.
    const QSize label = size();
    if (angle % 180 == 0 || label.isEmpty())
        return label;
    const double fit = std::min(double(label.width()) / label.height(), double(label.height()) / label.width());
    return QSize(qRound(label.width() * fit), qRound(label.height() * fit));
}

void MyLabel::refreshImage()
{
    // The user must see the file's current content, so a changed file (path, size or time) is decoded again; an
    // unchanged one is drawn from memory. A file that cannot be read gives a null image, which draws nothing.
    const QFileInfo info(fileName);
    const qint64 size = info.exists() ? info.size() : -1;
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    const bool sameFile = fileName == m_decodedPath && size == m_decodedSize && modified == m_decodedModified;
    // The reader opens the file only when asked: one opening serves both the header and the decode.
    QImageReader reader(fileName);
    if (!sameFile || !m_cacheEnabled)
        m_fullSize = size < 0 ? QSize() : reader.size();
    const QSize target = decodeSize(m_fullSize);
    if (m_cacheEnabled && sameFile && target == m_decodedTarget)
        return;
    // Free the previous page before decoding the next, so two never sit in memory at once.
    image = QImage();
    if (size >= 0) {
        if (target.isValid() && target != m_fullSize)
            reader.setScaledSize(target);
        image = reader.read();
    }
    m_decodedPath = fileName;
    m_decodedSize = size;
    m_decodedModified = modified;
    m_decodedTarget = target;
}

void MyLabel::paintEvent(QPaintEvent* event)
{
    if (fileName.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    refreshImage();
    const QSize drawn = drawnSize();
    QPainter painter(this);
    painter.translate(offsetX + width() / 2, offsetY + height() / 2);
    painter.scale(scale, scale);
    painter.rotate(angle);
    painter.drawImage(QRect(-(drawn.width() / 2), -(drawn.height() / 2), drawn.width(), drawn.height()), image);
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

void MyLabel::hideEvent(QHideEvent* event)
{
    // A page that is not on screen keeps no decoded pixels; showing it again decodes it anew.
    image = QImage();
    m_decodedPath.clear();
    m_decodedTarget = QSize();
    QLabel::hideEvent(event);
}
