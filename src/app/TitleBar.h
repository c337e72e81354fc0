#pragma once

#include <QPoint>
#include <QWidget>

class QLabel;
class QPushButton;

// The frameless main window's own 24-pixel title bar: icon, a stretch to drag the window by, and minimise,
// maximise/restore and close buttons. Installed as an event filter on the main window to follow its state.
class TitleBar : public QWidget
{
    Q_OBJECT

public:
    explicit TitleBar(QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

public slots:
    void onClicked();

private:
    void updateMaximize();

    QLabel* m_spacerLabel = nullptr;
    QLabel* m_textLabel = nullptr;
    QLabel* m_iconLabel = nullptr;
    QLabel* m_whiteLabel = nullptr;
    QPushButton* m_minimizeButton = nullptr;
    QPushButton* m_maximizeButton = nullptr;
    QPushButton* m_closeButton = nullptr;

    // Set while the bar moves the window itself because the window system could not.
    bool m_dragging = false;
    QPoint m_dragOffset;
};
