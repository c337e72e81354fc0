#include "upload/PassImage.h"

#include <QDateTime>
#include <QFile>

#include "upload/ImageDigest.h"
#include "upload/UploadFolder.h"

namespace {

constexpr qint64 kReadWholeLimit = 64 * 1024 * 1024;

} // namespace

PassImage::PassImage(const QString& path) : m_path(path), m_look(path)
{
    m_identity = UploadLedger::Identity{m_look.fileName(), m_look.size(), m_look.lastModified().toMSecsSinceEpoch()};
    m_signature = UploadLedger::signatureOf(m_identity);
}

QString PassImage::digest()
{
    read();
    return m_digest;
}

bool PassImage::mayBeImage()
{
    read();
    return m_mayBeImage;
}

bool PassImage::isWholeImage()
{
    read();
    return m_whole;
}

bool PassImage::isUnchanged() const
{
    return matches(QFileInfo(m_path));
}

bool PassImage::matches(const QFileInfo& now) const
{
    return now.exists() && now.size() == m_identity.size &&
           now.lastModified().toMSecsSinceEpoch() == m_identity.modifiedMs;
}

// A sheet of a few megabytes is read whole, hashed and judged, then let go; anything far larger is hashed in pieces
// and judged by its ends, so that no file in the folder can make the worker hold it in memory.
void PassImage::read()
{
    if (m_read)
        return;
    m_read = true;
    if (m_look.size() > kReadWholeLimit) {
        m_digest = UploadLedger::digestOf(m_path);
        m_mayBeImage = UploadFolder::mayBeImage(m_path);
        m_whole = UploadFolder::isWholeImage(m_path);
        return;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    m_digest = ImageDigest::ofBytes(bytes);
    m_mayBeImage = UploadFolder::mayBeImageData(bytes);
    m_whole = UploadFolder::isWholeImageData(bytes);
}
