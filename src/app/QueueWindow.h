#pragma once

#include <functional>

#include <QDialog>
#include <QHash>
#include <QTimer>

#include "upload/QueueState.h"

class QLabel;
class QTableWidget;

// Lists every image the upload worker still has to send or could not send: thumbnail, task, name, state, attempts
// and the last reason, with "重试" for a refused image and "打开文件夹" to show the file. Fed by the worker's
// published state; opened from the title bar's queue status.
class QueueWindow : public QDialog
{
    Q_OBJECT

public:
    explicit QueueWindow(QWidget* parent = nullptr);

    // The title shown for a task's images; a task without one shows its identifier.
    void setTaskTitle(const QString& taskId, const QString& title);

    // Shows the file's folder; tests replace the desktop's file manager.
    using OpenFolder = std::function<void(const QString& folder)>;
    void setOpenFolder(OpenFolder openFolder);

    QTableWidget* table() const { return m_table; }

public slots:
    void setQueueState(const QueueState& state);

signals:
    // The teacher wants the refused image sent again.
    void retryRequested(const QString& taskId, const QString& fileName);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The columns, their headers and the look of the table of images.
    void setUpTable();
    void rebuild();
    void loadSomeThumbnails();

    QLabel* m_summaryLabel = nullptr;
    QTableWidget* m_table = nullptr;
    QueueState m_state;
    QHash<QString, QString> m_titles;
    OpenFolder m_openFolder;
    // Thumbnails are read a few at a time, so a long queue opens at once.
    QTimer m_thumbnailTimer;
    // States arriving while the window is open are shown together, a moment later.
    QTimer m_rebuildTimer;
    int m_nextThumbnailRow = 0;
};
