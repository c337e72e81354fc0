#pragma once

#include <QList>
#include <QString>

class TaskFolders;

// Downloaded pages and thumbnails pile up in save/<task>/ term after term, and they are students' answer sheets: at
// start, those of tasks not opened for a set number of days are removed. The task database stays (it is small and
// the upload ledger of images that may still wait), and nothing below image/ is ever touched: waiting and refused
// sheets are the teacher's own photographs, which exist nowhere else. A removed download is fetched again when its
// task is opened.
class OldDownloads
{
public:
    struct Removed
    {
        QString taskId;
        int files = 0;
        qint64 bytes = 0;
    };

    // Marks the task being opened as opened at nowMs, then removes the downloads of every other task of the same
    // working folder last opened more than keepDays days before nowMs (0: nothing is removed). Each task whose
    // downloads were removed is logged and returned.
    static QList<Removed> sweep(const TaskFolders& opened, int keepDays, qint64 nowMs);

private:
    OldDownloads() = default;
};
