#pragma once

#include <QThread>

#include "core/TaskFolders.h"

// The queue state of a copy that waits for the working folder while another copy drains it. This copy's worker does
// not run, so nothing else tells the teacher what the folder holds: on a thread of its own (listing a folder of
// thousands and querying the database must not stall the window) it looks at the task's folder and database, and at
// those of the teacher's other tasks with images waiting (the worker empties those too), about once a second and
// soon after a folder changes, and publishes what it finds with the link OtherCopy. An unchanged state is not
// published again.
class WaitingQueuePublisher : public QThread
{
    Q_OBJECT

public:
    explicit WaitingQueuePublisher(QObject* parent = nullptr);
    ~WaitingQueuePublisher() override;

    // Before start(): the task, and the teacher (uid) whose other tasks the worker would finish.
    void setTask(const TaskFolders& folders, const QString& uid);
    // Ends the looks and returns once the thread has ended: nothing is published after it. The worker may start.
    void stop();

protected:
    void run() override;

private:
    TaskFolders m_folders;
    QString m_uid;
};
