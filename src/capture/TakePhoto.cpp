#include "capture/TakePhoto.h"

#include <QDir>
#include <QGridLayout>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QWindow>

#include "capture/CaptureSession.h"
#include "widgets/AccessibleName.h"
#include "widgets/CircleButton.h"
#include "widgets/FormLayout.h"
#include "widgets/MessageBox.h"
#include "widgets/SliderImageList.h"

namespace {

constexpr int kStripHeight = 70;
// Beside the video in the page's row: the 25 and 39 px margins and the 78 px column of counter and take button (the
// full-screen button's width is added), and at least 10 px of the spacers on either side of the video.
constexpr int kRowMargins = 25 + 39;
constexpr int kControlsWidth = 78;
constexpr int kMinVideoGap = 10;

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

} // namespace

TakePhoto::TakePhoto(QWidget* parent) : QWidget(parent), m_session(CaptureSession::process())
{
    setupUi();
    m_session.claim(this);
    connect(&m_session, &CaptureSession::stillArrived, this, &TakePhoto::stillArrived);
    connect(&m_session, &CaptureSession::deviceLost, this, &TakePhoto::deviceLost);
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

    connect(finishButton, SIGNAL(clicked()), this, SLOT(finishButtonClicked()));
    connect(pushButton, SIGNAL(clicked()), this, SLOT(quanPing()));
    pushButton->setFocusPolicy(Qt::NoFocus);
    finishButton->setFocusPolicy(Qt::NoFocus);

    m_session.findDevices();

    connect(circle, SIGNAL(clicked()), this, SLOT(take()));
    connect(sliderImageList, SIGNAL(displayImage(const QString&)), this, SLOT(displayImage(const QString&)));
    setupHandsFree();

    setWindowFlags(Qt::FramelessWindowHint);
}

// A still that arrives later reaches no page that is gone: its connections end with it.
TakePhoto::~TakePhoto() = default;

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

    setupControlColumn();

    gridLayout->addItem(FormLayout::horizontalSpacer(39), 0, 7);

    sliderImageList = new SliderImageList(this);
    sliderImageList->setObjectName(QStringLiteral("sliderImageList"));
    sliderImageList->setFixedHeight(kStripHeight);
    sliderImageList->setMinimumWidth(860);
    sliderImageList->setStyleSheet(QStringLiteral("background:rgba(25,28,37,1);border:1px solid rgb(25,28,37);"));
    gridLayout->addWidget(sliderImageList, 1, 0, 1, 8);
}

void TakePhoto::setupControlColumn()
{
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
}

void TakePhoto::initTaskFolder(const TaskFolders& folders)
{
    m_session.setTask(folders);
    if (!folders.isValid())
        return;
    // The strip shows the previews saved with each photograph; the waiting originals are not copied again (they
    // may be many and large, and this runs on the GUI thread).
    sliderImageList->loadFolder(m_session.previewFolder());
}

void TakePhoto::startPNG()
{
    startRequested = true;
    switch (m_session.open()) {
    case CaptureSession::Open::Opened:
        if (!m_session.play(label->winId(), label->size()))
            cameraFailed(cannotOpenText());
        break;
    case CaptureSession::Open::Playing:
        break;
    case CaptureSession::Open::NoCamera:
        MessageBox::information(nullptr, QStringLiteral("提示信息"), noCameraText());
        break;
    case CaptureSession::Open::CannotOpen:
        cameraFailed(cannotOpenText());
        break;
    }
}

// The session has closed (when it was opened at all) and freed the camera, so that the next start (or take) tries
// afresh.
void TakePhoto::cameraFailed(const QString& text)
{
    flushHeldStill();
    circle->setPressedLook(false);
    MessageBox::information(nullptr, QStringLiteral("提示信息"), text);
}

void TakePhoto::stopPNG()
{
    if (!m_session.isOpen())
        return;
    m_session.stop();
    flushHeldStill();
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
    // Hands-free, a press while a hand still swaps the sheets waits for the picture to settle: a photograph now
    // would show the hand, and the sheet it brings is shot once it lies still.
    if (m_autoShotOn && m_session.isOpen() && m_autoShot.deferPress()) {
        showAutoShotState();
        return;
    }
    takeStill();
}

CaptureSession::Take TakePhoto::takeStill()
{
    const CaptureSession::Take taken = m_session.take();
    switch (taken) {
    case CaptureSession::Take::NotOpen:
        if (startRequested)
            startPNG();
        break;
    case CaptureSession::Take::Asked:
        circle->setPressedLook(true);
        m_autoShot.shotTaken();
        break;
    case CaptureSession::Take::Guarded:
    case CaptureSession::Take::Refused:
        break;
    }
    return taken;
}

void TakePhoto::stillArrived(const QByteArray& jpeg, bool usable)
{
    circle->setPressedLook(true);
    if (usable)
        checkStill(jpeg);
    else
        flushHeldStill();
    m_session.stillHandled();
    circle->setPressedLook(m_session.stillsPending() > 0);
}

void TakePhoto::deviceLost()
{
    m_session.fail(true);
    cameraFailed(noCameraText());
}

void TakePhoto::saveStill(const QByteArray& jpeg)
{
    const CaptureSession::HandOver result = m_session.handOver(jpeg);
    if (!result.saved) {
        MessageBox::information(nullptr, QStringLiteral("提示信息"), result.problem);
        return;
    }
    label_2->setText(QString::number(m_session.capturedCount()));
    if (!result.previewPath.isEmpty())
        sliderImageList->addImage(result.previewPath);
    if (!result.lowSpaceWarning.isEmpty())
        MessageBox::information(nullptr, QStringLiteral("提示信息"), result.lowSpaceWarning);
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
    if (m_session.isOpen())
        m_session.attach(label->winId(), label->size());
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
    m_session.place(label->size());
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
