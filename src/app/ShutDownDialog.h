#pragma once

#include <memory>

#include <QDialog>
#include <QTimer>

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
    void setImageFolder(const QString& taskId);
    // Starts over from the folder's content and the service's counts; true when something is left to wait for.
    bool checkPending();

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
    int countWaitingImages();
    void showRecognitionTexts(const QString& estimate);
    // Only images that cannot be uploaded are left: say so and let the teacher quit.
    void showRefusedTexts();
    void setPercentage(int percent);

    QLabel* m_titleLabel = nullptr;
    QLabel* m_subtitleLabel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_percentLabel = nullptr;
    QLabel* m_estimateLabel = nullptr;
    QPushButton* waitButton = nullptr;
    QPushButton* continueButton = nullptr;

    int initialCount = 0;
    bool uploadPhase = false;
    QTimer m_timer;
    // Empty until the image folder is known.
    QString m_taskId;
    // The dialog's own connection to the task database, opened on first count: announced images whose file could
    // not be deleted are no longer waiting.
    std::unique_ptr<UploadLedger> m_ledger;
    QueueState m_queueState;
    // A service call waits in a local event loop where the next tick can already arrive.
    bool m_inTick = false;
};
