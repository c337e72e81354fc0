#include "core/TaskFolders.h"

#include <QDir>
#include <QFileInfo>

#include "core/TaskDatabase.h"

TaskFolders::TaskFolders(const QString& workingFolder, const QString& taskId)
    : m_workingFolder(workingFolder), m_taskId(taskId)
{
}

TaskFolders TaskFolders::inWorkingFolder(const QString& taskId)
{
    return TaskFolders(QString(), taskId);
}

QString TaskFolders::base() const
{
    return m_workingFolder.isEmpty() ? QDir::currentPath() : m_workingFolder;
}

bool TaskFolders::isValid() const
{
    return !m_taskId.isEmpty();
}

QString TaskFolders::imageRoot() const
{
    return base() + QStringLiteral("/image/");
}

QString TaskFolders::saveRoot() const
{
    return base() + QStringLiteral("/save/");
}

QString TaskFolders::unCollectionFolder() const
{
    return saveRoot() + QStringLiteral("UnCollectionInfo/");
}

QList<TaskFolders> TaskFolders::otherTasks() const
{
    QList<TaskFolders> others;
    const QStringList names = QDir(imageRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (name != m_taskId)
            others << TaskFolders(m_workingFolder, name);
    }
    return others;
}

QList<TaskFolders> TaskFolders::savedTasks() const
{
    QList<TaskFolders> saved;
    const QString unCollection = QDir(unCollectionFolder()).dirName();
    const QStringList names = QDir(saveRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (name != unCollection)
            saved << TaskFolders(m_workingFolder, name);
    }
    return saved;
}

QString TaskFolders::imageFolder() const
{
    return isValid() ? imageRoot() + m_taskId + QLatin1Char('/') : QString();
}

QString TaskFolders::previewFolder() const
{
    return isValid() ? imageFolder() + QStringLiteral("preview/") : QString();
}

QString TaskFolders::saveFolder() const
{
    return isValid() ? saveRoot() + m_taskId + QLatin1Char('/') : QString();
}

QString TaskFolders::studentFolder(const QString& folderKey) const
{
    return isValid() ? saveFolder() + folderKey + QLatin1Char('/') : QString();
}

QString TaskFolders::databasePath() const
{
    return isValid() ? saveFolder() + QLatin1String(TaskDatabase::FileName) : QString();
}

QString TaskFolders::openedMarkerPath() const
{
    return isValid() ? saveFolder() + QStringLiteral(".opened") : QString();
}

QString TaskFolders::setAsideFolder() const
{
    return isValid() ? saveFolder() + QStringLiteral("未上传/") : QString();
}

bool TaskFolders::ensure() const
{
    if (!isValid())
        return false;
    bool made = true;
    for (const QString& folder : {saveRoot(), imageRoot(), imageFolder(), previewFolder(), saveFolder()})
        made = QDir().mkpath(folder) && made;
    return made;
}

void TaskFolders::ensureRoots() const
{
    for (const QString& root : {saveRoot(), imageRoot()})
        QDir().mkpath(root);
}

bool TaskFolders::ensureImageFolder() const
{
    if (!isValid())
        return false;
    return QFileInfo(imageFolder()).isDir() || QDir().mkdir(imageFolder());
}

bool TaskFolders::ensureStudentFolder(const QString& folderKey) const
{
    return isValid() && QDir().mkpath(studentFolder(folderKey));
}

bool TaskFolders::ensureSaveFolder() const
{
    return isValid() && QDir().mkpath(saveFolder());
}

bool TaskFolders::ensureSetAsideFolder() const
{
    return isValid() && QDir().mkpath(setAsideFolder());
}

bool TaskFolders::ensureUnCollectionFolder() const
{
    return QDir().mkpath(unCollectionFolder());
}
