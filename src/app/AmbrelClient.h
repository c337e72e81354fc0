#pragma once

#include <memory>

#include <QMainWindow>
#include <QPoint>

#include "core/TaskFolders.h"

class QApplication;
class QCoreApplication;

class DisplayPhoto;
struct LaunchContext;
class HomePage;
class ReTakePhoto;
class QueueWindow;
class ShutDownDialog;
class TakePhoto;
class Tips;
class TitleBar;
class TrayProgramManager;
class ViewPhoto;
class WaitingQueuePublisher;

// The one frameless main window: owns every page, shows exactly one of them at a time in answer to the pages'
// signals, and decides what closing means (hide to the tray and quit through its menu or the wait dialog; without a
// notification area, closing the window quits the same way).
class AmbrelClient : public QMainWindow
{
    Q_OBJECT

public:
    explicit AmbrelClient(const QByteArray& argument, QWidget* parent = nullptr);
    ~AmbrelClient() override;

    // How the process ends once shutDownApplication() has closed everything; tests replace the immediate exit.
    using ExitFunction = void (*)(int);
    static void setExitFunction(ExitFunction function);

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

public slots:
    void toShowTips();
    void toHideTips();
    void closeViewPhoto();
    void toTakePhotoUi();
    void toDisplayPhotoUi();
    void reTakePhotoToDisplayPhotoUi();
    void toReMakeupPhotoUi();
    void toViewPhotoUi();
    void toHomePageUi();
    void toViewPhotoUi(QString studentId);
    void maxInterface();
    void closeInterface();
    void errorMessage(const QString& str);
    void shutDownApplication();
    // Opens (or raises) the upload queue window.
    void showQueueWindow();

private slots:
    // A later start asked for the working folder: stop the worker, give the folder up, quit.
    void handOverToNewStart();
    // The copy that held the working folder let go of it: this one's worker starts.
    void startWorkerAfterWait();
    // Another copy took the working folder while this one did not refresh its lock: stop the worker, wait again.
    void waitAfterLosingFolder();

private:
    void setupUi();
    // The window's own start-up steps, after those of StartUp: the task's folders and the worker, the pages, the
    // published queue state.
    void startTask(const LaunchContext& context, bool ownsFolder);
    void buildPages(const QString& displayTitle);
    void showQueueState(const QString& displayTitle);
    void showFirstPage();
    // Whether another copy drains the working folder while this one waits for it: title bar, tray, wait dialog.
    void showOtherCopyUploading(bool uploading);
    // The wait dialog, centred on this window, until it closes.
    void runWaitDialog();

    Tips* m_tips = nullptr;
    TitleBar* m_titleBar = nullptr;
    HomePage* m_homePage = nullptr;
    TakePhoto* m_takePhoto = nullptr;
    ReTakePhoto* m_reTakePhoto = nullptr;
    DisplayPhoto* m_displayPhoto = nullptr;
    TaskFolders m_folders;
    ViewPhoto* m_viewPhoto = nullptr;
    TrayProgramManager* m_trayManager = nullptr;
    QueueWindow* m_queueWindow = nullptr;
    ShutDownDialog* m_shutDownDialog = nullptr;
    // While another copy drains the folder: what it holds, in place of this copy's stopped worker.
    WaitingQueuePublisher* m_waitingQueue = nullptr;

    bool m_firstPageAsked = false;
    bool m_quitting = false;
    // Where the window was when it went to the tray: a window manager would otherwise place it anew on restore.
    QPoint m_hiddenPosition;
    bool m_hasHiddenPosition = false;
};
