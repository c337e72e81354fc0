#include "app/AmbrelClient.h"

#include <cstdlib>
#include <utility>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>

#include "app/HandOver.h"
#include "app/QueueWindow.h"
#include "app/ShutDownDialog.h"
#include "app/StartUp.h"
#include "app/Tips.h"
#include "app/TitleBar.h"
#include "app/TrayProgramManager.h"
#include "capture/TakePhoto.h"
#include "core/AppLog.h"
#include "core/Clock.h"
#include "core/LaunchContext.h"
#include "core/OldDownloads.h"
#include "core/Settings.h"
#include "pages/DisplayPhoto.h"
#include "pages/HomePage.h"
#include "pages/ReTakePhoto.h"
#include "service/HttpCommunicationThread.h"
#include "upload/QueueStatus.h"
#include "upload/WaitingQueuePublisher.h"
#include "viewer/ViewPhoto.h"

// The resource bundle lives in a static library: pull it in explicitly.
static void initAmbrelResources()
{
    Q_INIT_RESOURCE(ambrelclient);
}

namespace {

AmbrelClient::ExitFunction s_exitFunction = nullptr;

void exitNow(int status)
{
    if (s_exitFunction) {
        s_exitFunction(status);
        return;
    }
    // End at once: the worker thread is never stopped and the start-up objects are not torn down.
    std::_Exit(status);
}

} // namespace

AmbrelClient::AmbrelClient(const QByteArray& argument, QWidget* parent) : QMainWindow(parent)
{
    initAmbrelResources();
    setupUi();

    const bool ownsFolder = StartUp::takeOverWorkingFolder();
    HandOver* handOver = StartUp::handOver();
    connect(handOver, &HandOver::handOverRequested, this, &AmbrelClient::handOverToNewStart, Qt::UniqueConnection);
    connect(handOver, &HandOver::folderWon, this, &AmbrelClient::startWorkerAfterWait, Qt::UniqueConnection);
    connect(handOver, &HandOver::folderLost, this, &AmbrelClient::waitAfterLosingFolder, Qt::UniqueConnection);

    qRegisterMetaType<QList<std::pair<QString, QString>>>("QList<std::pair<QString,QString>>");

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint);

    const LaunchContext context = LaunchContext::parse(argument);

    m_trayManager = new TrayProgramManager();
    connect(m_trayManager, &TrayProgramManager::signalMaxInterface, this, &AmbrelClient::maxInterface);
    connect(m_trayManager, &TrayProgramManager::signalCloseInterface, this, &AmbrelClient::closeInterface);

    startTask(context, ownsFolder);
    buildPages(context.displayTitle());

    m_shutDownDialog = new ShutDownDialog();
    connect(m_shutDownDialog, &ShutDownDialog::shutDownApplication, this, &AmbrelClient::shutDownApplication);
    connect(m_shutDownDialog, &ShutDownDialog::toHomePageUi, this, &AmbrelClient::toHomePageUi);
    m_shutDownDialog->setImageFolder(m_folders);

    showQueueState(context.displayTitle());
    // Another copy drains the folder meanwhile: the teacher sees so and may close this window.
    if (!ownsFolder) {
        showOtherCopyUploading(true);
        m_waitingQueue->start();
    }

    // The paper status and the progress page's first refresh wait for the service: they run once the window is
    // on the screen (showEvent), so a slow service shows the loading page instead of no window at all.
}

void AmbrelClient::startWorkerAfterWait()
{
    AppLog::write(QStringLiteral("hand-over: the other copy let go of the folder; this copy's worker starts"));
    // Joined first: the worker and the waiting copy's looks never publish at once.
    m_waitingQueue->stop();
    showOtherCopyUploading(false);
    HttpCommunicationThread* worker = HttpCommunicationThread::getInstance();
    if (!worker->isRunning())
        worker->start(QThread::InheritPriority);
}

void AmbrelClient::waitAfterLosingFolder()
{
    showOtherCopyUploading(true);
    HttpCommunicationThread* worker = HttpCommunicationThread::getInstance();
    const auto waitAgain = [this] {
        if (StartUp::handOver()->takeOver(QDir::currentPath()))
            startWorkerAfterWait();
        else
            m_waitingQueue->start();
    };
    if (!worker->isRunning()) {
        waitAgain();
        return;
    }
    // The request in flight is finished first; then this copy waits for the folder like a new start.
    auto* connection = new QMetaObject::Connection;
    *connection = connect(worker, &QThread::finished, this, [connection, waitAgain] {
        QObject::disconnect(*connection);
        delete connection;
        waitAgain();
    });
    worker->requestInterruption();
}

void AmbrelClient::showOtherCopyUploading(bool uploading)
{
    m_titleBar->showOtherCopyUploading(uploading);
    m_trayManager->showOtherCopyUploading(uploading);
    m_shutDownDialog->showOtherCopyUploading(uploading);
}

void AmbrelClient::startTask(const LaunchContext& context, bool ownsFolder)
{
    m_folders = TaskFolders::inWorkingFolder(context.taskId);
    StartUp::prepareTask(m_folders);
    // Only the folder's owner sweeps: another copy may still show its task's downloads.
    if (ownsFolder)
        OldDownloads::sweep(m_folders, Settings::keepDays(), Clock::current().currentMSecsSinceEpoch());

    // Made here, on the GUI thread, before the worker publishes to it.
    QueueStatus::instance();
    HttpCommunicationThread* worker = HttpCommunicationThread::getInstance();
    HttpCommunicationThread::setTaskId(context.taskId);
    HttpCommunicationThread::setToken(context.token);
    HttpCommunicationThread::setUid(context.uid);
    worker->setTaskFolders(m_folders);
    m_waitingQueue = new WaitingQueuePublisher(this);
    m_waitingQueue->setTask(m_folders, context.uid);
    // Without the folder's lock another copy still drains it: this one must not upload beside it.
    if (ownsFolder && !worker->isRunning())
        worker->start(QThread::InheritPriority);
}

void AmbrelClient::buildPages(const QString& displayTitle)
{
    auto* layout = new QVBoxLayout();
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    centralWidget()->setLayout(layout);

    m_homePage = new HomePage(this);
    m_titleBar = new TitleBar(this);
    installEventFilter(m_titleBar);
    m_tips = new Tips(this);
    m_takePhoto = new TakePhoto(this);
    m_homePage->setStyleSheet(QStringLiteral("#HomePage{background:rgba(255,255,255,1)}"));
    m_reTakePhoto = new ReTakePhoto(this);
    m_displayPhoto = new DisplayPhoto(this);
    m_viewPhoto = new ViewPhoto(this);

    // Where one signal has two receivers, the order matters: the capture page starts its preview before the window
    // switches to it, and the viewer has the pages before it is shown.
    connect(m_takePhoto, &TakePhoto::finishPhoto, this, &AmbrelClient::toDisplayPhotoUi);
    connect(m_homePage, &HomePage::startPhoto, m_takePhoto, &TakePhoto::startPNG);
    connect(m_homePage, &HomePage::startPhoto, this, &AmbrelClient::toTakePhotoUi);
    connect(m_homePage, &HomePage::uploadPicStarted, this, &AmbrelClient::toDisplayPhotoUi);
    connect(m_displayPhoto, &DisplayPhoto::toViewPhoto, m_viewPhoto, &ViewPhoto::setPhotoPath);
    connect(m_displayPhoto, &DisplayPhoto::toViewPhoto, this, qOverload<>(&AmbrelClient::toViewPhotoUi));
    connect(m_displayPhoto, &DisplayPhoto::toReMakeupPhoto, this, &AmbrelClient::toReMakeupPhotoUi);
    connect(m_displayPhoto, &DisplayPhoto::toTakePhoto, this, &AmbrelClient::toTakePhotoUi);
    connect(m_displayPhoto, &DisplayPhoto::toTakePhoto, m_takePhoto, &TakePhoto::startPNG);
    connect(m_displayPhoto, &DisplayPhoto::uploadPicStarted, this, &AmbrelClient::toDisplayPhotoUi);
    connect(m_reTakePhoto, &ReTakePhoto::toDisplayPhoto, this, &AmbrelClient::reTakePhotoToDisplayPhotoUi);
    connect(m_reTakePhoto, &ReTakePhoto::toTakePhoto, this, &AmbrelClient::toTakePhotoUi);
    connect(m_reTakePhoto, &ReTakePhoto::toTakePhoto, m_takePhoto, &TakePhoto::startPNG);
    connect(m_reTakePhoto, &ReTakePhoto::uploadPicStarted, this, &AmbrelClient::toDisplayPhotoUi);
    connect(m_viewPhoto, &ViewPhoto::closeViewPhotoUi, this, &AmbrelClient::closeViewPhoto);
    connect(HttpCommunicationThread::getInstance(), &HttpCommunicationThread::message, this,
            &AmbrelClient::errorMessage);

    layout->addWidget(m_titleBar);
    layout->addWidget(m_homePage);
    layout->addWidget(m_takePhoto);
    layout->addWidget(m_reTakePhoto);
    layout->addWidget(m_displayPhoto);
    m_titleBar->show();
    m_homePage->show();
    m_tips->hide();
    m_takePhoto->hide();
    m_reTakePhoto->hide();
    m_displayPhoto->hide();
    m_viewPhoto->hide();

    m_takePhoto->initTaskFolder(m_folders);
    m_homePage->setTaskFolders(m_folders);
    m_displayPhoto->setTaskFolders(m_folders);
    m_reTakePhoto->setTaskFolders(m_folders);
    m_displayPhoto->setTitle(displayTitle);
    setWindowTitle(displayTitle);
}

// The worker's published queue state: the title bar, the tray, the wait dialog and the queue window.
void AmbrelClient::showQueueState(const QString& displayTitle)
{
    QueueStatus* queueStatus = QueueStatus::instance();
    m_queueWindow = new QueueWindow(this);
    m_queueWindow->setTaskTitle(m_folders.taskId(), displayTitle);
    connect(queueStatus, &QueueStatus::changed, m_titleBar, &TitleBar::setQueueState);
    connect(queueStatus, &QueueStatus::changed, m_trayManager, &TrayProgramManager::setQueueState);
    connect(queueStatus, &QueueStatus::changed, m_shutDownDialog, &ShutDownDialog::setQueueState);
    connect(queueStatus, &QueueStatus::changed, m_queueWindow, &QueueWindow::setQueueState);
    connect(m_titleBar, &TitleBar::queueStatusClicked, this, &AmbrelClient::showQueueWindow);
    connect(m_queueWindow, &QueueWindow::retryRequested, queueStatus, &QueueStatus::requestRetry);
    connect(m_queueWindow, &QueueWindow::setAsideRequested, queueStatus, &QueueStatus::requestSetAside);
    const QueueState published = queueStatus->current();
    if (published.published) {
        m_titleBar->setQueueState(published);
        m_trayManager->setQueueState(published);
        m_shutDownDialog->setQueueState(published);
        m_queueWindow->setQueueState(published);
    }
}

AmbrelClient::~AmbrelClient()
{
    delete m_trayManager;
    m_trayManager = nullptr;
    m_folders = TaskFolders();
}

void AmbrelClient::setExitFunction(ExitFunction function)
{
    s_exitFunction = function;
}

void AmbrelClient::setupUi()
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("AmbrelClientClass"));
    resize(860, 543);
    setMinimumSize(860, 543);
    setMaximumSize(860000, 33300);
    setStyleSheet(QStringLiteral("border-color: rgb(255, 0, 0);"));
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    central->setStyleSheet(QString());
    setCentralWidget(central);
    setWindowTitle(QCoreApplication::translate("AmbrelClientClass", "AmbrelClient"));
}

void AmbrelClient::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_firstPageAsked)
        return;
    m_firstPageAsked = true;
    // Queued: the window gets drawn before the first service call starts waiting.
    QMetaObject::invokeMethod(this, &AmbrelClient::showFirstPage, Qt::QueuedConnection);
}

void AmbrelClient::showFirstPage()
{
    if (HttpCommunicationThread::getPaperStatus())
        toDisplayPhotoUi();
}

void AmbrelClient::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setPen(QPen(QColor(0, 0, 0, 255), 1));
    painter.drawRect(rect().adjusted(-1, -1, -1, -1));
    painter.end();
    QMainWindow::paintEvent(event);
}

void AmbrelClient::closeEvent(QCloseEvent* event)
{
    event->ignore();
    // The quit path closes the window itself on its way out.
    if (m_quitting)
        return;
    // Without a notification area there is no tray menu to quit from and no icon to bring a hidden window back:
    // closing is quitting. Queued, so that a wait dialog does not run inside the close request; not twice.
    if (!TrayProgramManager::isTrayAvailable()) {
        if (!m_shutDownDialog->isVisible())
            QMetaObject::invokeMethod(this, &AmbrelClient::closeInterface, Qt::QueuedConnection);
        return;
    }
    m_hiddenPosition = isMaximized() || isFullScreen() ? normalGeometry().topLeft() : pos();
    m_hasHiddenPosition = true;
    hide();
}

void AmbrelClient::toShowTips()
{
    m_tips->setGeometry(0, 20, width(), height() - 20);
    m_tips->show();
}

void AmbrelClient::toHideTips()
{
    m_tips->hide();
}

void AmbrelClient::closeViewPhoto()
{
    m_viewPhoto->hide();
}

void AmbrelClient::toTakePhotoUi()
{
    m_takePhoto->show();
    m_homePage->hide();
    m_displayPhoto->hide();
    m_reTakePhoto->hide();
    m_viewPhoto->hide();
}

void AmbrelClient::toDisplayPhotoUi()
{
    m_homePage->hide();
    m_takePhoto->hide();
    m_reTakePhoto->hide();
    m_viewPhoto->hide();
    m_displayPhoto->show();
    QApplication::setQuitOnLastWindowClosed(false);
    if (m_shutDownDialog->checkPending(ShutDownDialog::Visit::ProgressPage))
        runWaitDialog();
    m_displayPhoto->refreshDisplayUi();
}

void AmbrelClient::runWaitDialog()
{
    m_shutDownDialog->centreOn(this);
    m_shutDownDialog->exec();
}

void AmbrelClient::reTakePhotoToDisplayPhotoUi()
{
    m_homePage->hide();
    m_takePhoto->hide();
    m_reTakePhoto->hide();
    m_viewPhoto->hide();
    m_displayPhoto->show();
    m_displayPhoto->refreshDisplayUi();
}

void AmbrelClient::toReMakeupPhotoUi()
{
    m_homePage->hide();
    m_takePhoto->hide();
    m_displayPhoto->hide();
    m_viewPhoto->hide();
    m_reTakePhoto->show();
    m_reTakePhoto->reloadStudents();
}

void AmbrelClient::toViewPhotoUi()
{
    m_viewPhoto->setFixedWidth(width());
    m_viewPhoto->setFixedHeight(height());
    m_viewPhoto->show();
}

void AmbrelClient::toHomePageUi()
{
    m_homePage->show();
    m_takePhoto->hide();
    m_displayPhoto->hide();
    m_reTakePhoto->hide();
    m_viewPhoto->hide();
}

void AmbrelClient::toViewPhotoUi(QString studentId)
{
    m_viewPhoto->loadStudent(studentId);
    toViewPhotoUi();
}

void AmbrelClient::maxInterface()
{
    // A window manager places a window anew when it is mapped again unless its position was set on purpose, and
    // QWidget::move passes on no position the window already has: set it on the window itself.
    if (m_hasHiddenPosition && isHidden()) {
        move(m_hiddenPosition);
        if (QWindow* handle = windowHandle())
            handle->setPosition(m_hiddenPosition);
    }
    show();
    setWindowState(Qt::WindowActive);
    activateWindow();
}

void AmbrelClient::closeInterface()
{
    QApplication::setQuitOnLastWindowClosed(false);
    if (m_shutDownDialog->checkPending()) {
        runWaitDialog();
        return;
    }
    shutDownApplication();
}

void AmbrelClient::handOverToNewStart()
{
    // The request in flight is finished and the worker's database closed before the folder is given up.
    HttpCommunicationThread* worker = HttpCommunicationThread::getInstance();
    m_waitingQueue->stop();
    const auto finish = [] {
        StartUp::handOver()->release();
        const QueueState left = QueueStatus::instance()->current();
        AppLog::write(QStringLiteral("hand-over: worker stopped, folder released, quitting with %1 image(s) left to "
                                     "upload and %2 refused")
                          .arg(left.pending())
                          .arg(left.refused()));
        exitNow(0);
    };
    if (!worker->isRunning()) {
        finish();
        return;
    }
    connect(worker, &QThread::finished, this, finish);
    worker->requestInterruption();
}

void AmbrelClient::errorMessage(const QString& str)
{
    // Messages from the upload worker are not shown to the teacher.
    Q_UNUSED(str)
}

void AmbrelClient::shutDownApplication()
{
    const QueueState left = QueueStatus::instance()->current();
    AppLog::write(QStringLiteral("quit: program ends with %1 image(s) left to upload and %2 refused, kept in the "
                                 "task folders")
                      .arg(left.pending())
                      .arg(left.refused()));
    m_quitting = true;
    m_waitingQueue->stop();
    QApplication::setQuitOnLastWindowClosed(true);
    m_titleBar->close();
    m_homePage->close();
    m_takePhoto->close();
    m_reTakePhoto->close();
    m_displayPhoto->close();
    m_viewPhoto->close();
    if (m_trayManager)
        m_trayManager->close();
    m_shutDownDialog->close();
    QMainWindow::close();
    exitNow(0);
}

void AmbrelClient::showQueueWindow()
{
    m_queueWindow->show();
    m_queueWindow->raise();
    m_queueWindow->activateWindow();
}
