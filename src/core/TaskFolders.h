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
    // Where the teacher puts refused images that are not to be uploaded ("save/<task>/未上传/"): kept, out of the
    // queue, in a folder the teacher can open.
    QString setAsideFolder() const;

    // Makes the image, preview and save folders that are missing; false when one cannot be made (or no task).
    bool ensure() const;

    // The working folder's roots, each ending in "/".
    QString imageRoot() const;
    QString saveRoot() const;
    QString unCollectionFolder() const;
    // Makes "image/" and "save/" when missing.
    void ensureRoots() const;
    // The other tasks that have an image folder below the same working folder, by name.
    QList<TaskFolders> otherTasks() const;

private:
    QString base() const;

    QString m_workingFolder;
    QString m_taskId;
};
