#pragma once

#include <QByteArray>
#include <QList>
#include <QWidget>

#include <functional>

class CircleButton;
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

private:
    void setupUi();
    void enumerateDevices();
    void enterFullScreen();
    void leaveFullScreen();
    void saveStill(const QByteArray& jpeg);
    void cameraFailed();
    void attachVideo();
    void setScreenButton(bool inFullScreen);
    QSize fitBesideControls(int h, int shapeWidth, int shapeHeight) const;
    static void handleStill(const QByteArray& jpeg);
    static void handleDeviceLost(int index);

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
};
