#pragma once

#include <QImage>
#include <QWidget>

// The camera's drawing surface: a child of the video window that paints the latest live frame over its area.
// Mouse events pass through to the window beneath.
class VideoOverlay : public QWidget
{
    Q_OBJECT

public:
    explicit VideoOverlay(QWidget* window);

    void setFrame(const QImage& frame);
    int framesShown() const { return m_framesShown; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_frame;
    int m_framesShown = 0;
};
