#pragma once

#include <QList>
#include <QString>

#include "core/TaskFolders.h"
#include "upload/QueueState.h"

class UploadLedger;

// The queue state as a look at a task's folder and its ledger finds it: how the worker gathers its share, and the
// look the wait dialog and the window take without a worker's own knowledge of the run.
namespace QueueLookup {

// Adds one task's share to state from a listing of its folder (as the worker lists it: images only, never folders)
// and one query of the ledger. The one place where a task's state is gathered.
void addTask(QueueState& state, const QString& taskId, const QList<QueueState::Image>& listing,
             const UploadLedger& ledger, const QueueState::Runtime& runtime);

// Adds one task's share to state from a look at its folder (listed as the worker lists it) and its ledger, as a
// worker that knows nothing of the run would find it.
void addFolder(QueueState& state, const QString& taskId, const QString& folder, const UploadLedger& ledger);

// What a look at a task's folder and ledger finds: the dialog's look before the worker has said anything, or when an
// image may have come since its last pass.
QueueState ofFolder(const QString& taskId, const QString& folder, const UploadLedger& ledger);

// The images in folder the worker has still to send or announce (what the wait dialog counts): announced images
// whose file could not be deleted, refused images and empty files are not counted.
int waitingImages(const QString& folder, const UploadLedger& ledger);

// The other tasks whose image folder holds images the teacher uid queued (their database names uid), so that one
// start finishes every task's uploads, not only the task it was opened for.
QList<TaskFolders> otherTasksOf(const QString& uid, const TaskFolders& own);

} // namespace QueueLookup
