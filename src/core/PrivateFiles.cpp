#include "core/PrivateFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include "core/Settings.h"
#include "core/TaskFolders.h"

namespace PrivateFiles {

void restrictNewFiles()
{
    Platform::restrictNewFiles();
}

void restrict(const QString& path)
{
    const QFileInfo root(path);
    if (root.isSymLink() || !root.exists())
        return;
    Platform::restrictEntry(path);
    if (!root.isDir())
        return;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (!entry.isSymLink())
            Platform::restrictEntry(entry.filePath());
    }
}

void protectWorkingData()
{
    restrictNewFiles();
    // Without the trailing "/": a root that is a link must be seen as one, not followed.
    const TaskFolders working;
    restrict(QDir::cleanPath(working.imageRoot()));
    restrict(QDir::cleanPath(working.saveRoot()));
    // Only the log file itself: its folder may be one the user shares on purpose.
    const QString log = Settings::logFile();
    if (!log.isEmpty() && QFileInfo(log).isFile())
        restrict(log);
}

} // namespace PrivateFiles
