#pragma once

#include <QString>

class QByteArray;

// The digest the ledger keeps of an image: SHA-1 of its bytes, as hexadecimal text. OpenSSL's, where the build has
// it, uses the processor's SHA instructions and costs a fraction of Qt's own for every image sent; both give the
// same text, so a ledger written by either build is read by the other.
namespace ImageDigest {

QString ofBytes(const QByteArray& bytes);
// Read in pieces; empty when the file cannot be read.
QString ofFile(const QString& path);

} // namespace ImageDigest
