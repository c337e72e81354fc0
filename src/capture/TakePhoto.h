#pragma once

#include <QByteArray>
#include <QWidget>

#include "capture/AutoShot.h"
#include "capture/CaptureSession.h"
#include "capture/StillCheck.h"
#include "core/TaskFolders.h"

class CircleButton;
class QCheckBox;
class QGridLayout;
class QKeyEvent;
class QLabel;
class QPushButton;
class QVBoxLayout;
class SliderImageList;

// The capture page: live video of the document camera, the take button with its 1000 ms guard, the counter of
// stills saved in this run, the thumbnail strip of the task's previews, and full screen.
class TakePhoto : public QWidget
{
    Q_OBJECT

public:
    explicit TakePhoto(QWidget* parent = nullptr);
    ~TakePhoto() override;

    void initTaskFolder(const TaskFolders& folders);

    // Hands-free capture: a still whenever a new sheet lies still in the live video (remembered between runs).
    void setAutoShot(bool on);

signals:
    void finishPhoto();

public slots:
    void quanPing();
    void displayImage(const QString& filePath);
    void keyPressEvent(QKeyEvent* event) override;
    void startPNG();
    void stopPNG();
    void take();
    void finishButtonClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setupUi();
    // The column right of the video: the counter, the take button and the finish button.
    void setupControlColumn();
    void enterFullScreen();
    void leaveFullScreen();
    CaptureSession::Take takeStill();
    void saveStill(const QByteArray& jpeg);
    // The camera did not start or stopped delivering: the teacher is told what to check.
    void cameraFailed(const QString& text);
    void stillArrived(const QByteArray& jpeg, bool usable);
    void deviceLost();
    void attachVideo();
    void setScreenButton(bool inFullScreen);
    QSize fitBesideControls(int h, int shapeWidth, int shapeHeight) const;

    // Hands-free capture and the check of every still (TakePhotoHandsFree.cpp).
    void setupHandsFree();
    void previewFrame(const QImage& frame);
    void showAutoShotState();
    // A still and what the check made of it.
    struct CheckedStill
    {
        QByteArray jpeg;
        StillCheck::Result result;
        QImage small; // AutoShot::reduce() of the still, to compare a retake with
        QString note; // why it is kept beside another still, when it passed its check
    };

    // Checks a still before it is handed over; one that fails is taken again, up to twice. A retake of the same
    // sheet replaces it when better; a retake showing another sheet is kept beside it; one showing no sheet never
    // replaces it.
    void checkStill(const QByteArray& jpeg);
    // Hands over a still held back for a retake that will not come.
    void flushHeldStill();
    void handOver(const CheckedStill& still);
    static bool isTakeKey(const QKeyEvent* event);

    QGridLayout* gridLayout = nullptr;
    QPushButton* pushButton = nullptr;
    QVBoxLayout* verticalLayout_5 = nullptr;
    QLabel* label_4 = nullptr;
    QLabel* label = nullptr;
    QVBoxLayout* verticalLayout_4 = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    QLabel* label_2 = nullptr;
    QLabel* label_3 = nullptr;
    CircleButton* circle = nullptr;
    QPushButton* finishButton = nullptr;
    SliderImageList* sliderImageList = nullptr;

    CaptureSession& m_session;
    bool fullScreen = false;
    bool showingStill = false;
    int imageWidth = 315;
    int imageHeight = 400;
    // Set once the page has been asked to start the camera: a take then also retries a camera that failed or was lost.
    bool startRequested = false;

    QCheckBox* autoShotBox = nullptr;
    QLabel* autoShotState = nullptr;
    bool m_autoShotOn = false;
    AutoShot m_autoShot;
    StillCheck m_stillCheck;
    CheckedStill m_held;
    int m_retakes = 0;
};
