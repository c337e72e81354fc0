#pragma once

#include <QList>
#include <QString>

// Where one task's files live below the working folder: the images waiting for upload ("image/<task>/"), their
// previews for the capture strip ("image/<task>/preview/"), the downloads and the task database
// ("save/<task>/", "save/<task>/<student>/", "save/<task>/task.sqlite"). Made once from the launch context and
// handed on as a value. Without a task there are no task folders: every path is empty, never "image/" itself.
// The roots ("image/", "save/" and "save/UnCollectionInfo/") belong to the working folder and are there with or
// without a task.
class TaskFolders
{
public:
    TaskFolders() = default;
    TaskFolders(const QString& workingFolder, const QString& taskId);
    // The task's folders below the process's working folder, as it is when a path is asked for.
    static TaskFolders inWorkingFolder(const QString& taskId);

    bool isValid() const;
    QString taskId() const { return m_taskId; }

    // Each path ends in "/".
    QString imageFolder() const;
    QString previewFolder() const;
    QString saveFolder() const;
    // folderKey is a student id already made safe as a single folder name.
    QString studentFolder(const QString& folderKey) const;
    QString databasePath() const;
    // Touched each time the task is opened: its time says when the task was last opened.
    QString openedMarkerPath() const;
    // Where the teacher puts refused images that are not to be uploaded ("save/<task>/未上传/"): kept, out of the
    // queue, in a folder the teacher can open.
    QString setAsideFolder() const;

    // Makes what is missing of the roots ("image/", "save/") and of the task's image, preview and save folders,
    // parents first; false when one cannot be made, or without a task (then nothing is made). With those below, the
    // one place where folders of the working folder are made.
    bool ensure() const;
    // The task's image folder alone, one level: made again when it was removed, but never its parent, so that a
    // working folder taken away is not rebuilt behind the teacher's back. False when it is not there afterwards.
    bool ensureImageFolder() const;
    // Makes "image/" and "save/" when missing, with or without a task.
    void ensureRoots() const;
    // A student's folder below the save folder, and the working folder's "save/UnCollectionInfo/", made with their
    // parents when missing; false when it cannot be made (or no task).
    bool ensureStudentFolder(const QString& folderKey) const;
    bool ensureUnCollectionFolder() const;
    // The task's save folder, and the folder of sheets set aside below it, made with their parents when missing;
    // false when one cannot be made (or no task).
    bool ensureSaveFolder() const;
    bool ensureSetAsideFolder() const;

    // The working folder's roots, each ending in "/".
    QString imageRoot() const;
    QString saveRoot() const;
    QString unCollectionFolder() const;
    // The other tasks that have an image folder below the same working folder, by name.
    QList<TaskFolders> otherTasks() const;
    // Every task that has a save folder below the same working folder, this one too, by name.
    QList<TaskFolders> savedTasks() const;

private:
    QString base() const;

    QString m_workingFolder;
    QString m_taskId;
};
