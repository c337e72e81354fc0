#include "capture/TakePhoto.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>
#include <QStorageInfo>
#include <QThread>
#include <QUuid>
#include <QVBoxLayout>
#include <QVector>
#include <QWindow>

#include "capture/CameraComponent.h"
#include "widgets/MessageBox.h"
#include "core/AppLog.h"
#include "core/LaunchContext.h"
#include "upload/UploadFolder.h"
#include "widgets/CircleButton.h"
#include "widgets/SliderImageList.h"
#include "widgets/AccessibleName.h"
#include "widgets/FormLayout.h"

namespace {

constexpr int kCameraVendorId = 0x0EDC;
constexpr int kCameraProductId = 0x2003;
constexpr qint64 kTakeGuardMs = 1000;
constexpr int kStripHeight = 70;
// Beside the video in the page's row: the 25 and 39 px margins and the 78 px column of counter and take button (the
// full-screen button's width is added), and at least 10 px of the spacers on either side of the video.
constexpr int kRowMargins = 25 + 39;
constexpr int kControlsWidth = 78;
constexpr int kMinVideoGap = 10;

// Shared by the page and the still callback, which is a plain function; touched on the GUI thread only.
struct CaptureState
{
    QPointer<TakePhoto> page;
    bool cameraOpen = false;
    qint64 lastTriggerTime = 0;
    int capturedCount = 0;
    // Stills asked for and not yet handled: the take button looks pressed meanwhile.
    int stillsPending = 0;
    QString currentDir;
    QString taskFolder;
    std::function<qint64()> clock;
    std::function<qint64(const QString&)> freeSpace;
    // The low-disk warning is given once per run.
    bool lowSpaceWarned = false;
};

CaptureState& capture()
{
    static CaptureState s;
    return s;
}

// Below this much free space after a photograph the teacher is warned: a few dozen more still fit.
constexpr qint64 kLowSpaceBytes = 200LL * 1024 * 1024;
// Room kept free beyond the photograph itself, for the database and the log.
constexpr qint64 kSpareBytes = 1024 * 1024;

qint64 freeBytes(const QString& folder)
{
    if (capture().freeSpace)
        return capture().freeSpace(folder);
    QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

void logLine(const QString& text)
{
    AppLog::write(QStringLiteral("capture: ") + text);
}

qint64 nowMs()
{
    return capture().clock ? capture().clock() : QDateTime::currentMSecsSinceEpoch();
}

QString imageFolder()
{
    return capture().currentDir + QStringLiteral("/image/") + capture().taskFolder + QLatin1Char('/');
}

QString previewFolder()
{
    return imageFolder() + QStringLiteral("preview/");
}

QVector<ResolutionEntry> queryResolutions(int index, int list)
{
    int count = 0;
    hQuerySupportResolutionAndFormat(index, list, nullptr, &count);
    QVector<ResolutionEntry> entries(qMax(0, count));
    if (count > 0) {
        hQuerySupportResolutionAndFormat(index, list, entries.data(), &count);
        entries.resize(qBound(0, count, entries.size()));
    }
    return entries;
}

QString noCameraText()
{
    return QStringLiteral("系统没有检测到摄像头，可能的原因如下\n"
                          "  1、USB线插口松动：请插紧后重新打开本程序再试\n"
                          "  2、USB口供电不足：可尝试换一个USB口（台式电脑建议使用机箱后USB口），重新打开本程序再试\n"
                          "  3、以上方法仍不能解决问题，请重启电脑再试");
}

// The device is there but does not open or does not stream: most often another program holds it.
QString cannotOpenText()
{
    return QStringLiteral("摄像头无法打开，可能的原因如下\n"
                          "  1、摄像头正被其他程序使用：请关闭其他程序后重新打开本程序再试\n"
                          "  2、USB口供电不足：可尝试换一个USB口（台式电脑建议使用机箱后USB口），重新打开本程序再试\n"
                          "  3、以上方法仍不能解决问题，请重启电脑再试");
}

QIcon resourceIcon(const char* name)
{
    return QIcon(QStringLiteral(":/AmbrelClient/Resources/") + QLatin1String(name));
}

// The camera's callbacks may run on its stream thread: the page is touched on the GUI thread only.
void onGuiThread(const std::function<void()>& work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() == app->thread())
        work();
    else
        QMetaObject::invokeMethod(app, work, Qt::QueuedConnection);
}

} // namespace

TakePhoto::TakePhoto(QWidget* parent) : QWidget(parent)
{
    setupUi();
    capture().page = this;
    showingStill = false;
    imageHeight = 400;
    imageWidth = 315;
    label_4->hide();
    fullScreen = false;
    setScreenButton(false);
    AccessibleName::setForIconButton(circle, QStringLiteral("拍照"));
    AccessibleName::setForIconButton(finishButton, QStringLiteral("完成拍照"));

    setStyleSheet(QStringLiteral("background-color:rgba(10,13,23,1)"));
    setAttribute(Qt::WA_StyledBackground, true);
    capture().currentDir = QDir::currentPath();

    connect(finishButton, SIGNAL(clicked()), this, SLOT(finishButtonClicked()));
    connect(pushButton, SIGNAL(clicked()), this, SLOT(quanPing()));
    pushButton->setFocusPolicy(Qt::NoFocus);
    finishButton->setFocusPolicy(Qt::NoFocus);

    enumerateDevices();
    hSetDeviceLostCallback(&TakePhoto::onDeviceLost);

    connect(circle, SIGNAL(clicked()), this, SLOT(take()));
    connect(sliderImageList, SIGNAL(displayImage(const QString&)), this, SLOT(displayImage(const QString&)));
    setupHandsFree();

    setWindowFlags(Qt::FramelessWindowHint);
}

TakePhoto::~TakePhoto()
{
    // A still that arrives later must not reach a page that is gone.
    if (capture().page == this)
        capture().page = nullptr;
}

qint64 TakePhoto::guardClockMs()
{
    return nowMs();
}

int& TakePhoto::stillsPending()
{
    return capture().stillsPending;
}

TakePhoto* TakePhoto::currentPage()
{
    return capture().page;
}

void TakePhoto::setupUi()
{
    setObjectName(QStringLiteral("TakePhotoUI"));
    resize(860, 518);
    setMinimumSize(860, 518);
    setMaximumSize(86000, 51800);
    setStyleSheet(QStringLiteral("background:rgba(10,13,23,1);"));

    gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setHorizontalSpacing(0);
    gridLayout->setContentsMargins(0, 0, 0, 0);

    gridLayout->addItem(FormLayout::horizontalSpacer(25), 0, 0);

    auto* buttonColumn = new QVBoxLayout();
    pushButton = new QPushButton(this);
    pushButton->setObjectName(QStringLiteral("pushButton"));
    pushButton->setStyleSheet(QStringLiteral("border:none;background:transparent;"));
    buttonColumn->addWidget(pushButton);
    buttonColumn->addItem(FormLayout::verticalSpacer());
    gridLayout->addLayout(buttonColumn, 0, 1);

    gridLayout->addItem(FormLayout::horizontalSpacer(110, QSizePolicy::Expanding), 0, 2);

    verticalLayout_5 = new QVBoxLayout();
    verticalLayout_5->setObjectName(QStringLiteral("verticalLayout_5"));
    verticalLayout_5->setContentsMargins(0, -1, -1, -1);
    label_4 = new QLabel(this);
    label_4->setObjectName(QStringLiteral("label_4"));
    label_4->setStyleSheet(QStringLiteral("background:white;"));
    label = new QLabel(this);
    label->setObjectName(QStringLiteral("label"));
    label->setMinimumSize(315, 400);
    label->setStyleSheet(QStringLiteral("background:white;"));
    verticalLayout_5->addWidget(label_4);
    verticalLayout_5->addWidget(label);
    gridLayout->addLayout(verticalLayout_5, 0, 3);

    verticalLayout_4 = new QVBoxLayout();
    verticalLayout_4->setObjectName(QStringLiteral("verticalLayout_4"));
    gridLayout->addLayout(verticalLayout_4, 0, 4);

    gridLayout->addItem(FormLayout::horizontalSpacer(124, QSizePolicy::Expanding), 0, 5);

    verticalLayout_2 = new QVBoxLayout();
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->addItem(FormLayout::verticalSpacer());
    label_2 = new QLabel(this);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setFixedSize(78, 78);
    label_2->setAlignment(Qt::AlignCenter);
    label_2->setStyleSheet(
        QStringLiteral("font-size:60px;color:rgba(215,215,215,1);font-family:Microsoft YaHei;background:transparent;"));
    label_2->setText(QStringLiteral("0"));
    verticalLayout_2->addWidget(label_2);
    label_3 = new QLabel(this);
    label_3->setObjectName(QStringLiteral("label_3"));
    label_3->setFixedSize(78, 22);
    label_3->setAlignment(Qt::AlignCenter);
    label_3->setStyleSheet(
        QStringLiteral("font-size:16px;color:rgba(215,215,215,1);font-family:Microsoft YaHei;background:transparent;"));
    label_3->setText(QStringLiteral("已拍"));
    verticalLayout_2->addWidget(label_3);
    verticalLayout_2->addItem(FormLayout::verticalSpacer(20));
    circle = new CircleButton(this);
    circle->setObjectName(QStringLiteral("circle"));
    circle->setFixedSize(78, 78);
    circle->setIconSize(QSize(90, 78));
    circle->setStyleSheet(QStringLiteral("border:none;background:transparent;"));
    verticalLayout_2->addWidget(circle);
    verticalLayout_2->addItem(FormLayout::verticalSpacer(20));
    finishButton = new QPushButton(this);
    finishButton->setObjectName(QStringLiteral("finishButton"));
    finishButton->setFixedSize(78, 28);
    finishButton->setIcon(resourceIcon("finish.png"));
    finishButton->setIconSize(QSize(98, 28));
    finishButton->setStyleSheet(QStringLiteral("border:none;background:transparent;"));
    verticalLayout_2->addWidget(finishButton);
    verticalLayout_2->addItem(FormLayout::verticalSpacer());
    gridLayout->addLayout(verticalLayout_2, 0, 6);

    gridLayout->addItem(FormLayout::horizontalSpacer(39), 0, 7);

    sliderImageList = new SliderImageList(this);
    sliderImageList->setObjectName(QStringLiteral("sliderImageList"));
    sliderImageList->setFixedHeight(kStripHeight);
    sliderImageList->setMinimumWidth(860);
    sliderImageList->setStyleSheet(QStringLiteral("background:rgba(25,28,37,1);border:1px solid rgb(25,28,37);"));
    gridLayout->addWidget(sliderImageList, 1, 0, 1, 8);
}

void TakePhoto::enumerateDevices()
{
    deviceIndex = -1;
    devices.clear();
    const int count = hEnumVideoDevice();
    for (int i = 0; i < count; ++i) {
        int vendor = 0;
        int product = 0;
        hGetVideoDeviceVIDPID(i, &vendor, &product);
        DeviceEntry entry{i, false};
        if (vendor == kCameraVendorId && product == kCameraProductId) {
            entry.matched = true;
            deviceIndex = i;
        }
        devices.append(entry);
    }
}

void TakePhoto::initTaskFolder(const QString& taskId)
{
    capture().taskFolder = taskId;
    // Without a task there is no task folder: image/ itself must not gain a preview folder.
    if (taskId.isEmpty())
        return;
    const QString folder = imageFolder();
    const QString preview = previewFolder();
    QDir().mkpath(folder);
    QDir().mkpath(preview);
    // The strip shows the previews saved with each photograph; the waiting originals are not copied again (they
    // may be many and large, and this runs on the GUI thread).
    sliderImageList->loadFolder(preview);
}

void TakePhoto::startPNG()
{
    startRequested = true;
    if (enumerateAgain && !capture().cameraOpen) {
        enumerateAgain = false;
        enumerateDevices();
    }
    for (const DeviceEntry& entry : qAsConst(devices)) {
        if (entry.matched) {
            deviceIndex = entry.index;
            break;
        }
    }
    if (deviceIndex < 0) {
        MessageBox::information(nullptr, QStringLiteral("提示信息"), noCameraText());
        return;
    }
    if (capture().cameraOpen)
        return;

    queryResolutions(deviceIndex, 0);
    firstMode = {2048, 1536, 0};
    secondMode = {0, 0, 0};
    for (const ResolutionEntry& entry : queryResolutions(deviceIndex, 1)) {
        if (entry.format == 0 && entry.width > secondMode.width) {
            secondMode.width = entry.width;
            if (entry.height > secondMode.height)
                secondMode.height = entry.height;
        }
    }

    CameraOpenParams params{};
    params.videoWidth = firstMode.width;
    params.videoHeight = firstMode.height;
    params.videoFormat = firstMode.format;
    params.bufferCount = 3;
    params.mirror = 0;
    params.preview = 1;
    params.stillWidth = secondMode.width;
    params.stillHeight = secondMode.height;
    params.stillFormat = secondMode.format;
    params.rotation = 0;
    params.stillsEnabled = 1;
    params.stillCallback = &TakePhoto::onStillCaptured;
    if (!hOpenCameraDevice(deviceIndex, params)) {
        cameraFailed(false, cannotOpenText());
        return;
    }
    hSetVideoWindow(deviceIndex, label->winId());
    hSetVideoWindowPosition(deviceIndex, 0, 0, label->width(), label->height());
    // A device that opens but does not stream (refused for lack of USB bandwidth, say) has failed as well.
    if (!hPlay(deviceIndex)) {
        cameraFailed(true, cannotOpenText());
        return;
    }
    capture().cameraOpen = true;
}

// A camera that does not start, or stops delivering, is closed (when it was opened at all) and freed, so that the
// next start (or take) tries afresh, and the teacher is told what to check.
void TakePhoto::cameraFailed(bool deviceOpened, const QString& text)
{
    if (deviceOpened && deviceIndex >= 0) {
        hStop(deviceIndex);
        hSetVideoWindow(deviceIndex, 0);
        hCloseCameraDevice(deviceIndex);
    }
    hFreeVideoDevice();
    flushHeldStill();
    capture().cameraOpen = false;
    capture().stillsPending = 0;
    circle->setPressedLook(false);
    enumerateAgain = true;
    MessageBox::information(nullptr, QStringLiteral("提示信息"), text);
}

void TakePhoto::stopPNG()
{
    if (!capture().cameraOpen)
        return;
    hStop(deviceIndex);
    hSetVideoWindow(deviceIndex, 0);
    hCloseCameraDevice(deviceIndex);
    flushHeldStill();
    capture().cameraOpen = false;
}

void TakePhoto::take()
{
    if (showingStill) {
        showingStill = false;
        label_4->hide();
        pushButton->show();
        label->show();
        return;
    }
    const qint64 now = nowMs();
    if (now - capture().lastTriggerTime < kTakeGuardMs)
        return;
    capture().lastTriggerTime = now;
    if (!capture().cameraOpen) {
        if (startRequested)
            startPNG();
        return;
    }
    if (hStillTrigger(deviceIndex)) {
        ++capture().stillsPending;
        circle->setPressedLook(true);
        m_autoShot.shotTaken();
    }
}

void TakePhoto::onStillCaptured(unsigned char* data, int length)
{
    // The bytes belong to the camera only for the duration of this call.
    QByteArray jpeg = (data && length > 0) ? QByteArray(reinterpret_cast<const char*>(data), length) : QByteArray();
    onGuiThread([jpeg] { handleStill(jpeg); });
}

void TakePhoto::handleStill(const QByteArray& jpeg)
{
    TakePhoto* page = capture().page;
    if (!page)
        return;
    page->circle->setPressedLook(true);
    if (capture().cameraOpen && !jpeg.isEmpty())
        page->checkStill(jpeg);
    else
        page->flushHeldStill();
    if (capture().stillsPending > 0)
        --capture().stillsPending;
    page->circle->setPressedLook(capture().stillsPending > 0);
}

void TakePhoto::onDeviceLost(int index)
{
    onGuiThread([index] { handleDeviceLost(index); });
}

void TakePhoto::handleDeviceLost(int index)
{
    TakePhoto* page = capture().page;
    if (!page || !capture().cameraOpen || index != page->deviceIndex)
        return;
    page->cameraFailed(true, noCameraText());
}

void TakePhoto::saveStill(const QByteArray& jpeg)
{
    // Without a task the folder would be image/ itself, which nothing uploads: keep nothing and say so.
    if (capture().taskFolder.isEmpty()) {
        MessageBox::information(nullptr, QStringLiteral("提示信息"), LaunchContext::missingTaskText());
        return;
    }
    // Both copies appear under their final names only when complete: the upload worker takes every image it
    // finds in the folder.
    const QString folder = imageFolder();
    const QString preview = previewFolder();
    // A folder removed meanwhile is made again; only what cannot be made is a failure.
    QDir().mkpath(folder);
    QDir().mkpath(preview);
    const QString uploadName = QUuid::createUuid().toString() + QStringLiteral(".jpg");
    const QString previewName = QUuid::createUuid().toString() + QStringLiteral(".jpg");
    // Count only what reached the upload folder; a photograph that did not is not shown as taken either, and the
    // teacher is told why.
    const qint64 available = freeBytes(folder);
    QString error;
    QString cause;
    if (!QFileInfo(folder).isDir()) {
        cause = QStringLiteral("照片文件夹不存在且无法创建");
    } else if (available >= 0 && available < jpeg.size() + kSpareBytes) {
        cause = QStringLiteral("磁盘空间不足");
    } else if (!QFileInfo(folder).isWritable()) {
        cause = QStringLiteral("没有写入照片文件夹的权限");
    } else if (!UploadFolder::placeBytes(folder, uploadName, jpeg, &error)) {
        cause = QStringLiteral("写入照片文件失败（%1）").arg(error);
    }
    if (!cause.isEmpty()) {
        logLine(QStringLiteral("photograph not saved in %1: %2 %3").arg(folder, cause, error));
        MessageBox::information(nullptr, QStringLiteral("提示信息"),
                                QStringLiteral("照片未能保存：%1。\n%2").arg(cause, QDir::toNativeSeparators(folder)));
        return;
    }
    ++capture().capturedCount;
    label_2->setText(QString::number(capture().capturedCount));
    if (UploadFolder::placeBytes(preview, previewName, jpeg, &error))
        sliderImageList->addImage(preview + previewName);
    else
        logLine(QStringLiteral("preview not saved in %1: %2").arg(preview, error));
    const qint64 left = available >= 0 ? available - jpeg.size() : -1;
    if (left >= 0 && left < kLowSpaceBytes && !capture().lowSpaceWarned) {
        capture().lowSpaceWarned = true;
        logLine(QStringLiteral("low disk space: %1 bytes left in %2").arg(left).arg(folder));
        MessageBox::information(
            nullptr, QStringLiteral("提示信息"),
            QStringLiteral("磁盘剩余空间已不足 %1 MB，请尽快清理磁盘，否则照片将无法保存。").arg(left / (1024 * 1024)));
    }
}

void TakePhoto::displayImage(const QString& filePath)
{
    const QImage image(filePath);
    // A file that does not load (deleted, not an image) leaves the view as it is.
    if (image.isNull() || image.height() <= 0)
        return;
    showingStill = true;
    imageHeight = image.height();
    imageWidth = image.width();
    label_4->setFixedSize(
        fitBesideControls(qMax(1, height() - (fullScreen ? 0 : kStripHeight)), imageWidth, imageHeight));
    label_4->setPixmap(QPixmap::fromImage(
        image.scaled(label_4->width(), label_4->height(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    label_4->setScaledContents(true);
    label->hide();
    pushButton->show();
    label_4->show();
}

void TakePhoto::quanPing()
{
    if (fullScreen)
        leaveFullScreen();
    else
        enterFullScreen();
}

void TakePhoto::enterFullScreen()
{
    finishButton->hide();
    sliderImageList->hide();
    fullScreen = true;
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setScreenButton(true);
    showFullScreen();
    attachVideo();
}

void TakePhoto::leaveFullScreen()
{
    fullScreen = false;
    sliderImageList->show();
    circle->show();
    finishButton->show();
    setScreenButton(false);
    // Without the window flag the page returns into its parent. Its window from full screen is destroyed first: kept,
    // it would stay unmapped inside the parent under a window manager, and the video on it frozen.
    if (QWindow* native = windowHandle())
        native->destroy();
    setWindowFlags(Qt::FramelessWindowHint);
    showNormal();
    attachVideo();
}

// The corner button offers full screen, or in full screen the way back.
void TakePhoto::setScreenButton(bool inFullScreen)
{
    const QSize size = inFullScreen ? QSize(130, 46) : QSize(98, 46);
    pushButton->setFixedSize(size);
    pushButton->setIcon(resourceIcon(inFullScreen ? "esc.png" : "allscreen.png"));
    pushButton->setIconSize(size);
    AccessibleName::setForIconButton(pushButton, inFullScreen ? QStringLiteral("退出全屏") : QStringLiteral("全屏"));
}

// New window flags give the page, and the video label in it, new native windows: the video would stay frozen on
// the old one, so it is attached to the label's current window again.
void TakePhoto::attachVideo()
{
    if (!capture().cameraOpen || deviceIndex < 0)
        return;
    hSetVideoWindow(deviceIndex, label->winId());
    hSetVideoWindowPosition(deviceIndex, 0, 0, label->width(), label->height());
}

void TakePhoto::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        leaveFullScreen();
    else if (isTakeKey(event) && !event->isAutoRepeat())
        take();
}

void TakePhoto::finishButtonClicked()
{
    emit finishPhoto();
}

void TakePhoto::mousePressEvent(QMouseEvent* event)
{
    if (fullScreen && (event->button() == Qt::LeftButton || event->button() == Qt::RightButton))
        take();
}

void TakePhoto::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (imageWidth == 0 || imageHeight == 0)
        return;
    const int h = height() - (fullScreen ? 0 : kStripHeight);
    if (h <= 0)
        return;
    label->setFixedSize(fitBesideControls(h, 4, 3));
    // The video rectangle follows only an open device.
    if (capture().cameraOpen && deviceIndex >= 0)
        hSetVideoWindowPosition(deviceIndex, 0, 0, label->width(), label->height());
    label_4->setFixedSize(fitBesideControls(h, imageWidth, imageHeight));
}

// A picture of the given proportions (the video's 4:3, a stored image's own) at the given height, or narrowed (and
// lowered) to the width left beside the controls where that is less.
QSize TakePhoto::fitBesideControls(int h, int shapeWidth, int shapeHeight) const
{
    const int room = qMax(1, width() - kRowMargins - pushButton->minimumWidth() - kControlsWidth - 2 * kMinVideoGap);
    const int w = h * shapeWidth / shapeHeight;
    if (w <= room)
        return QSize(w, h);
    return QSize(room, qMax(1, room * shapeHeight / shapeWidth));
}

void TakePhoto::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
}

void TakePhoto::setClock(std::function<qint64()> clock)
{
    capture().clock = std::move(clock);
}

int TakePhoto::capturedCount()
{
    return capture().capturedCount;
}

bool TakePhoto::cameraOpen()
{
    return capture().cameraOpen;
}

void TakePhoto::resetProcessState()
{
    hFreeVideoDevice();
    CaptureState& s = capture();
    s.cameraOpen = false;
    s.lastTriggerTime = 0;
    s.capturedCount = 0;
    s.stillsPending = 0;
    s.taskFolder.clear();
    s.clock = nullptr;
    s.freeSpace = nullptr;
    s.lowSpaceWarned = false;
}

void TakePhoto::setFreeSpaceProbe(std::function<qint64(const QString& folder)> probe)
{
    capture().freeSpace = std::move(probe);
}
