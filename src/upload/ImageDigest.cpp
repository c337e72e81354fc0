#include "upload/ImageDigest.h"

#include <QByteArray>
#include <QFile>

#if defined(AMBREL_OPENSSL_SHA1)
#include <openssl/evp.h>
#else
#include <QCryptographicHash>
#endif

namespace {

constexpr qint64 kPieceSize = 256 * 1024;

#if defined(AMBREL_OPENSSL_SHA1)
class Sha1
{
public:
    Sha1() : m_context(EVP_MD_CTX_new()) { m_ok = m_context && EVP_DigestInit_ex(m_context, EVP_sha1(), nullptr) == 1; }
    ~Sha1() { EVP_MD_CTX_free(m_context); }
    Sha1(const Sha1&) = delete;
    Sha1& operator=(const Sha1&) = delete;

    void add(const char* data, qint64 size) { m_ok = m_ok && EVP_DigestUpdate(m_context, data, size_t(size)) == 1; }
    QString hex()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!m_ok || EVP_DigestFinal_ex(m_context, digest, &length) != 1)
            return QString();
        return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
    }

private:
    EVP_MD_CTX* m_context;
    bool m_ok = false;
};
#else
class Sha1
{
public:
    void add(const char* data, qint64 size) { m_hash.addData(data, int(size)); }
    QString hex() { return QString::fromLatin1(m_hash.result().toHex()); }

private:
    QCryptographicHash m_hash{QCryptographicHash::Sha1};
};
#endif

} // namespace

namespace ImageDigest {

QString ofBytes(const QByteArray& bytes)
{
    Sha1 sha1;
    sha1.add(bytes.constData(), bytes.size());
    return sha1.hex();
}

QString ofFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    Sha1 sha1;
    QByteArray piece(int(kPieceSize), Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(piece.data(), kPieceSize);
        if (read < 0)
            return QString();
        if (read == 0)
            break;
        sha1.add(piece.constData(), read);
    }
    return sha1.hex();
}

} // namespace ImageDigest
