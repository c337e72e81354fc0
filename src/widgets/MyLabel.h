#pragma once

#include <QDateTime>
#include <QImage>
#include <QLabel>

// The image surface of the photo viewer: draws one image file stretched to the label (a quarter-turned one shrunk to
// fit it whole), zoomed, rotated and dragged.
class MyLabel : public QLabel
{
    Q_OBJECT

public:
    explicit MyLabel(QWidget* parent = nullptr);

    // Decoding again only when the file changed is what keeps dragging smooth; tests and benchmarks switch it off
    // to measure the difference.
    void setDecodeCacheEnabled(bool enabled) { m_cacheEnabled = enabled; }

public slots:
    void OnSelectImage(QString fileName);
    void OnZoomInImage();
    void OnZoomOutImage();
    void OnPresetImage();
    void OnXuanZhuan();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    QImage image;
    double scale = 1.0;
    int offsetX = 0;
    int offsetY = 0;
    int lastX = 0;
    int lastY = 0;
    bool dragging = false;
    QString fileName;
    int angle = 0;

private:
    void zoomOutWithFloor();
    void refreshImage();
    QSize decodeSize(const QSize& fullSize) const;
    // The size of the page's rectangle before zoom and rotation.
    QSize drawnSize() const;

    bool m_cacheEnabled = true;
    // What the decoded image was made from: the file is decoded again when any of these changes.
    QString m_decodedPath;
    qint64 m_decodedSize = -1;
    QDateTime m_decodedModified;
    QSize m_fullSize;
    QSize m_decodedTarget;
};
