#include "upload/UploadFolder.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

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

// Plain arrays, not static Qt containers: the upload worker thread may still be listing the folder while the
// program's static objects are destroyed at exit.
constexpr const char* kImageSuffixes[] = {"bmp", "jpg", "jpeg", "png"};
constexpr char kPngEnd[] = "\0\0\0\0IEND\xAE\x42\x60\x82";

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

// A JPEG ends with its end-of-image marker, a PNG with its IEND chunk, a BMP is as long as its header says.
bool wholeImage(const QByteArray& head, const QByteArray& tail, qint64 size)
{
    if (head.startsWith("\xFF\xD8"))
        return size >= 4 && tail.endsWith(QByteArray("\xFF\xD9", 2));
    if (head == QByteArray("\x89PNG\r\n\x1A\n", 8))
        return size >= 8 + 12 && tail.endsWith(QByteArray::fromRawData(kPngEnd, 12));
    if (head.startsWith("BM") && head.size() >= 6)
        return qFromLittleEndian<quint32>(head.constData() + 2) == quint64(size);
    return false;
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

QFileInfoList listImages(const QString& folder)
{
    // Without QDir::Hidden hidden files are left out; without QDir::System so are FIFOs, sockets and devices; name
    // filters match without regard to case.
    QStringList filters;
    for (const char* suffix : kImageSuffixes)
        filters << QStringLiteral("*.") + QLatin1String(suffix);
    return QDir(folder).entryInfoList(filters, QDir::Files | QDir::Readable | QDir::NoSymLinks, QDir::Name);
}

bool isImageName(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix();
    for (const char* known : kImageSuffixes) {
        if (suffix.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isWholeImage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    const QByteArray head = file.read(8);
    const qint64 tailSize = std::min<qint64>(size, 12);
    if (!file.seek(size - tailSize))
        return false;
    return wholeImage(head, file.read(tailSize), size);
}

bool isWholeImageData(const QByteArray& bytes)
{
    return wholeImage(bytes.left(8), bytes.right(12), bytes.size());
}

bool mayBeImage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true; // unreadable now: judged when it can be read
    return mayBeImageData(file.read(8));
}

bool mayBeImageData(const QByteArray& bytes)
{
    const QByteArray head = bytes.left(8);
    for (const QByteArray& signature :
         {QByteArray("\xFF\xD8", 2), QByteArray("\x89PNG\r\n\x1A\n", 8), QByteArray("BM", 2)}) {
        const int n = std::min(head.size(), signature.size());
        // Fewer bytes than the signature: still being written, or a tiny file that the settle guard waits for.
        if (head.left(n) == signature.left(n))
            return true;
    }
    return false;
}

void setBeforeRename(std::function<void(const QString& finalPath)> hook)
{
    beforeRename() = std::move(hook);
}

} // namespace UploadFolder
