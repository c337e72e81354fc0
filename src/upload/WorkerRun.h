#pragma once

#include <functional>

#include "upload/UploadIntervals.h"

class QString;
class Sleeper;
class TaskFolders;
class Uploader;

// What the upload worker's thread runs: the loop over the task's folder and over the other tasks the teacher queued,
// each with its own ledger, one published queue state over all of them, and the teacher's "重试" and "不再上传"
// handed to the loop of its task. Runs on the calling thread until keepGoing says no. The store and the sleeper are
// given, so that a benchmark runs exactly what the worker runs.
namespace WorkerRun {

void run(const TaskFolders& folders, const QString& uid, Uploader& store, Sleeper& waiter,
         const std::function<bool()>& keepGoing, const UploadIntervals& intervals = UploadIntervals());

} // namespace WorkerRun
