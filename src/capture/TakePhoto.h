#pragma once

#include <QByteArray>
#include <QList>
#include <QWidget>

#include <functional>

#include "capture/AutoShot.h"
#include "capture/StillCheck.h"

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
    struct DeviceEntry
    {
        int index;
        bool matched;
    };
    struct VideoMode
    {
        int width;
        int height;
        int format;
    };

    explicit TakePhoto(QWidget* parent = nullptr);
    ~TakePhoto() override;

    void initTaskFolder(const QString& taskId);

    // The camera's still callback: may run on any thread, the work is done on the GUI thread.
    static void onStillCaptured(unsigned char* data, int length);
    // The camera's word that the playing device stopped delivering: may run on any thread, like the still callback.
    static void onDeviceLost(int index);

    // Milliseconds since the epoch as the take guard reads them; an empty function restores the system clock.
    static void setClock(std::function<qint64()> nowMs);
    // Free bytes on the disk holding a folder (-1: unknown); an empty function restores the system's answer.
    static void setFreeSpaceProbe(std::function<qint64(const QString& folder)> probe);
    // Stills saved since start, and whether the camera is open and playing (process-wide).
    static int capturedCount();
    static bool cameraOpen();
    // Back to the state at process start: closes the camera and forgets counter, guard time and task (tests).
    static void resetProcessState();

    // Hands-free capture: a still whenever a new sheet lies still in the live video (remembered between runs).
    void setAutoShot(bool on);

    int currentDeviceIndex() const { return deviceIndex; }
    VideoMode stillMode() const { return secondMode; }

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
    void enumerateDevices();
    void enterFullScreen();
    void leaveFullScreen();
    void saveStill(const QByteArray& jpeg);
    void cameraFailed(bool deviceOpened, const QString& text);
    void attachVideo();
    void setScreenButton(bool inFullScreen);
    QSize fitBesideControls(int h, int shapeWidth, int shapeHeight) const;
    static void handleStill(const QByteArray& jpeg);
    static void handleDeviceLost(int index);

    // Hands-free capture and the check of every still (TakePhotoHandsFree.cpp).
    void setupHandsFree();
    static void onPreviewFrame(int index, const QImage& frame);
    void previewFrame(const QImage& frame);
    void showAutoShotState();
    // Checks a still before it is handed over; one that fails is taken again, up to twice, and the best kept.
    void checkStill(const QByteArray& jpeg);
    // Hands over a still held back for a retake that will not come.
    void flushHeldStill();
    void handOver(const QByteArray& jpeg, const StillCheck::Result& result);
    static bool isTakeKey(const QKeyEvent* event);
    static qint64 guardClockMs();
    // Stills asked of the camera and not yet handled.
    static int& stillsPending();
    static TakePhoto* currentPage();

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

    QList<DeviceEntry> devices;
    int deviceIndex = -1;
    VideoMode firstMode{2048, 1536, 0};
    VideoMode secondMode{0, 0, 0};
    bool fullScreen = false;
    bool showingStill = false;
    int imageWidth = 315;
    int imageHeight = 400;
    // Set once the page has been asked to start the camera: a take then also retries a camera that failed or was lost.
    bool startRequested = false;
    // A camera that failed or was lost may come back under another index: look the devices up again first.
    bool enumerateAgain = false;

    QCheckBox* autoShotBox = nullptr;
    QLabel* autoShotState = nullptr;
    bool m_autoShotOn = false;
    AutoShot m_autoShot;
    StillCheck m_stillCheck;
    QByteArray m_heldStill;
    StillCheck::Result m_heldResult;
    int m_retakes = 0;
};
