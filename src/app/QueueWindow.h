#pragma once

#include <functional>

#include <QDialog>

#include "upload/QueueState.h"

class QLabel;
class QModelIndex;
class QTableView;
class QueueModel;

// Lists every image the upload worker still has to send or could not send: thumbnail, task, name, state, attempts
// and the last reason, with "重试" and "不再上传" for a refused image and "打开文件夹" to show the file. Fed by the
// worker's published state; opened from the title bar's queue status. A model and a view: a state changes the rows
// it touches, and the view paints only the visible ones, so thousands of rows cost what a screenful does.
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

    QTableView* table() const { return m_table; }
    QueueModel* model() const { return m_model; }

public slots:
    void setQueueState(const QueueState& state);

signals:
    // The teacher wants the refused image sent again.
    void retryRequested(const QString& taskId, const QString& fileName);
    // The teacher will not upload the refused image: it goes to the task's "未上传" folder, out of the queue.
    void setAsideRequested(const QString& taskId, const QString& fileName);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The columns, their headers and the look of the table of images.
    void setUpTable();
    void showState();
    void act(const QModelIndex& index);

    QLabel* m_summaryLabel = nullptr;
    QTableView* m_table = nullptr;
    QueueModel* m_model = nullptr;
    QueueState m_state;
    OpenFolder m_openFolder;
};
