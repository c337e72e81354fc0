#pragma once

#include <QPushButton>

// The round take-photo button. It answers only releases inside its circle's bounding square and never shows the
// toolkit's pressed look; the capture page switches the icon itself while a still is being saved.
class CircleButton : public QPushButton
{
    Q_OBJECT

public:
    explicit CircleButton(QWidget* parent = nullptr);

    void setPressedLook(bool pressed);
    // An arc around the button filling clockwise from the top, 0 (none) to 1 (a full ring).
    void setRingProgress(double progress);
    double ringProgress() const { return m_ringProgress; }

signals:
    // Hides QAbstractButton::clicked(bool): only the release rule below emits it.
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    const int centerX = 48;
    const int centerY = 48;
    const int radius = 48;
    double m_ringProgress = 0;
};
