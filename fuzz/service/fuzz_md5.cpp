#include <QCryptographicHash>

#include "FuzzSupport.h"
#include "service/MD5.h"

// The digest equals the reference implementation's however the message is cut into updates, and taking a digest
// part-way does not end the message.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks where the message is cut.
    const std::size_t cut = size > 1 ? data[0] % size : 0;
    const QByteArray message = FuzzSupport::bytes(data + 1, size - 1);
    const std::size_t split = message.isEmpty() ? 0 : cut % std::size_t(message.size() + 1);

    MD5 md5;
    md5.update(message.constData(), split);
    const std::string partial = md5.toString();
    FUZZ_CHECK(partial ==
               QCryptographicHash::hash(message.left(int(split)), QCryptographicHash::Md5).toHex().toStdString());
    md5.update(message.constData() + split, std::size_t(message.size()) - split);
    const QByteArray reference = QCryptographicHash::hash(message, QCryptographicHash::Md5);
    FUZZ_CHECK(md5.toString() == reference.toHex().toStdString());
    FUZZ_CHECK(QByteArray(reinterpret_cast<const char*>(md5.digest()), 16) == reference);

    md5.reset();
    md5.update(std::string(message.constData(), std::size_t(message.size())));
    FUZZ_CHECK(md5.toString() == reference.toHex().toStdString());
    return 0;
}
