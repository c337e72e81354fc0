#pragma once

#include <QString>

#include "upload/UploadLedger.h"

class QFileInfo;

// Small rules the upload loop's files share.
namespace UploadLoopSupport {

// A file's identity in the ledger: the same name with other contents is another image.
UploadLedger::Identity identityOf(const QFileInfo& info);
QString signature(const UploadLedger::Identity& image);
// Whether the file at path still has the size and modification time it was listed with.
bool isUnchanged(const QString& path, const UploadLedger::Identity& image);
// The store's refusals that sending again will not heal: a 4xx other than a refused token.
bool isRefusal(int code);
void logLine(const QString& text);

} // namespace UploadLoopSupport
