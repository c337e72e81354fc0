#pragma once

#include <memory>
#include <utility>
#include <vector>

#include <QDialog>
#include <QTimer>

#include "core/TaskFolders.h"
#include "upload/QueueState.h"

class QLabel;
class UploadLedger;
class QProgressBar;
class QPushButton;

// Makes the teacher wait until the task's image folder is empty (upload phase) and then until the service has
// proofread every uploaded image (recognition phase), polling both every 3000 ms. Only the recognition phase
// offers to end the program.
class ShutDownDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ShutDownDialog(QWidget* parent = nullptr);
    ~ShutDownDialog() override;

    // The task's image folder below the working directory; created when missing.
    void setImageFolder(const TaskFolders& folders);
    // Why the dialog is asked for: the teacher quits, or opened the progress page.
    enum class Visit
    {
        Quitting,
        ProgressPage,
    };
    // Starts over from the folder's content and the service's counts; true when something is left to wait for.
    // Refused images alone open it only when the teacher quits: elsewhere the status says so, without a box.
    bool checkPending(Visit visit = Visit::Quitting);
    // Another copy drains the working folder: waiting here would be for nothing, so the dialog says who uploads and
    // offers to close this window (the other copy goes on).
    void showOtherCopyUploading(bool uploading);

    // Places the dialog over the middle of window (of the screen when window is hidden or minimised): a dialog
    // without a parent is otherwise placed by the window manager, or at the screen's corner without one.
    void centreOn(const QWidget* window);

    // The poll interval; tests shorten it or drive timerTimeout() themselves.
    void setPollInterval(int milliseconds);
    bool isPolling() const;
    bool isUploadPhase() const;

signals:
    void waitOperator();
    void shutDownApplication();
    void toHomePageUi();

public slots:
    // The upload worker's published counts, over every task it empties; until the first arrives the dialog
    // counts the task's folder itself.
    void setQueueState(const QueueState& state);
    void timerStop();
    void timerTimeout();
    void wait();
    void toTakePicture();

private:
    void setupUi();
    // The title, the progress rows and the buttons in their rows.
    void layOut();
    int countWaitingImages();
    void showRecognitionTexts(const QString& estimate);
    void showUploadTexts();
    // While images wait: whether the worker can reach the service and the store, and the texts and buttons that go
    // with it.
    void followReach();
    // Only images that cannot be uploaded are left: say so and let the teacher quit.
    void showRefusedTexts();
    void setPercentage(int percent);
    // Shows text under the bar, unless refused images are to be named there.
    void showEstimate(const QString& text);

    QLabel* m_titleLabel = nullptr;
    QLabel* m_subtitleLabel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_percentLabel = nullptr;
    QLabel* m_estimateLabel = nullptr;
    QPushButton* waitButton = nullptr;
    QPushButton* continueButton = nullptr;

    int initialCount = 0;
    // Images left at the last count (what the log says the teacher left behind on quitting).
    int m_remaining = 0;
    bool uploadPhase = false;
    // In the upload phase: nothing can move (the service or the store cannot be reached, the upload token is
    // refused, no secure connection, another copy holds the folder), so the dialog says which and offers to quit
    // with the images kept in the folder for the next start. Ok while images move.
    QueueState::Link m_stuck = QueueState::Link::Ok;
    // Set by the main window while another copy holds the folder (this copy's worker does not run, so nothing is
    // published about it).
    bool m_otherCopyUploading = false;
    QTimer m_timer;
    // Empty until the image folder is known.
    TaskFolders m_folders;
    // The dialog's own connections to the databases of the task and of the teacher's other tasks with images
    // waiting, opened on first look: what it counts while the worker has said nothing, or has nothing left that it
    // knows of (an image put there since its last look still counts).
    std::vector<std::pair<TaskFolders, std::unique_ptr<UploadLedger>>> m_ledgers;
    // The worker's last published state.
    QueueState m_queueState;
    // The refused images as of the last count, and "name（reason）" of those listed.
    int m_refused = 0;
    QStringList m_refusedImages;
    // A service call waits in a local event loop where the next tick can already arrive.
    bool m_inTick = false;
};
