#pragma once

#include <functional>

#include <QPoint>
#include <QWidget>

#include "upload/QueueState.h"

class QLabel;
class QPushButton;

// The frameless main window's own 24-pixel title bar: icon, a stretch to drag the window by, and minimise,
// maximise/restore and close buttons. Installed as an event filter on the main window to follow its state.
class TitleBar : public QWidget
{
    Q_OBJECT

public:
    explicit TitleBar(QWidget* parent = nullptr);

    // Tests: stands in for the window system's interactive move (true: the window system took the move over).
    using SystemMove = std::function<bool(QWidget* window)>;
    static void setSystemMoveForTests(SystemMove move);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

public slots:
    void onClicked();
    // Shows the upload queue's state left of the minimise button; nothing when all is uploaded.
    void setQueueState(const QueueState& state);
    // Another copy drains the working folder while this one waits for it.
    void showOtherCopyUploading(bool uploading);

signals:
    // The queue status was clicked: the main window opens the queue window.
    void queueStatusClicked();

private:
    // The upload queue's status button inside the stretch label.
    void addQueueStatus();
    void updateMaximize();
    void startMove();

    QLabel* m_spacerLabel = nullptr;
    QLabel* m_textLabel = nullptr;
    QLabel* m_iconLabel = nullptr;
    QLabel* m_whiteLabel = nullptr;
    QPushButton* m_minimizeButton = nullptr;
    QPushButton* m_maximizeButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    // In the stretch's room: the buttons keep their places.
    QPushButton* m_queueStatusButton = nullptr;
    // What the status shows, so that a new state restyles it only when its kind changes.
    QueueState::Kind m_queueKind = QueueState::Kind::Idle;

    // A press on the bar waits for the pointer to travel before it becomes a move, so that double-clicks still
    // reach the bar: a window manager that took the first press over would swallow the second click.
    bool m_pressed = false;
    QPoint m_pressPos;
    // Set while the bar moves the window itself because the window system could not.
    bool m_dragging = false;
    QPoint m_dragOffset;
};
