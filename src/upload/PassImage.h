#pragma once

#include <QFileInfo>
#include <QString>

#include "upload/UploadLedger.h"

// One image as a pass carries it from its look to its deletion: where it is, what the ledger knows it by, the key it
// goes under, and what its bytes say. The file is looked at once when the pass reaches it; its bytes are read once,
// when first asked for, and give the digest and the image checks together.
class PassImage
{
public:
    // Looks at the file now: the listing may be old by the time the pass reaches it.
    explicit PassImage(const QString& path);

    const QFileInfo& look() const { return m_look; }
    const QString& path() const { return m_path; }
    const QString& name() const { return m_identity.name; }
    const UploadLedger::Identity& identity() const { return m_identity; }
    // The identity as one text: what the loop's own memory of a file is keyed by.
    const QString& signature() const { return m_signature; }

    // The SHA-1 of the bytes, as the ledger keeps it; empty when the file could not be read.
    QString digest();
    // Whether the bytes may start a JPEG, PNG or BMP; true while the file cannot be read (judged when it can).
    bool mayBeImage();
    // Whether the bytes hold a whole image.
    bool isWholeImage();

    // Whether the file still has the size and modification time it was looked at with: a fresh look, taken before
    // the file is sent again or deleted.
    bool isUnchanged() const;
    // Whether a fresh look at the file finds the size and modification time it was looked at with.
    bool matches(const QFileInfo& now) const;

    // The object key the image is being sent under; empty until one is recorded.
    QString key;

private:
    void read();

    QString m_path;
    QFileInfo m_look;
    UploadLedger::Identity m_identity;
    QString m_signature;
    bool m_read = false;
    QString m_digest;
    bool m_mayBeImage = true;
    bool m_whole = false;
};
