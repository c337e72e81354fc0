#include "upload/UploadFolder.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {

// QSaveFile writes to "<name>.XXXXXX" beside the target and renames on commit; that temporary name ends in a
// random suffix, never in an image extension, so the worker does not list it.
bool openTarget(QSaveFile& target, QString* error)
{
    target.setDirectWriteFallback(false);
    if (!target.open(QIODevice::WriteOnly)) {
        if (error)
            *error = target.errorString();
        return false;
    }
    return true;
}

std::function<void(const QString&)>& beforeRename()
{
    static std::function<void(const QString&)> hook;
    return hook;
}

bool commit(QSaveFile& target, QString* error)
{
    if (beforeRename())
        beforeRename()(target.fileName());
    if (!target.commit()) {
        if (error)
            *error = target.errorString();
        return false;
    }
    return true;
}

} // namespace

namespace UploadFolder {

bool placeBytes(const QString& folder, const QString& fileName, const QByteArray& data, QString* error)
{
    QSaveFile target(QDir(folder).filePath(fileName));
    if (!openTarget(target, error))
        return false;
    if (target.write(data) != data.size()) {
        if (error)
            *error = target.errorString();
        target.cancelWriting();
        return false;
    }
    return commit(target, error);
}

bool copyFile(const QString& source, const QString& folder, const QString& fileName, QString* error)
{
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly)) {
        if (error)
            *error = input.errorString();
        return false;
    }
    QSaveFile target(QDir(folder).filePath(fileName));
    if (!openTarget(target, error))
        return false;
    QByteArray chunk;
    while (!(chunk = input.read(1 << 20)).isEmpty()) {
        if (target.write(chunk) != chunk.size()) {
            if (error)
                *error = target.errorString();
            target.cancelWriting();
            return false;
        }
    }
    if (input.error() != QFileDevice::NoError) {
        if (error)
            *error = input.errorString();
        target.cancelWriting();
        return false;
    }
    return commit(target, error);
}

void setBeforeRename(std::function<void(const QString& finalPath)> hook)
{
    beforeRename() = std::move(hook);
}

} // namespace UploadFolder
