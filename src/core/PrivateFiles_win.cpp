#include "core/PrivateFiles.h"

#include <QString>

// The user's profile, which holds the working folder and the log, is private to the account already.
namespace PrivateFiles::Platform {

void restrictEntry(const QString&) {}

void restrictNewFiles() {}

} // namespace PrivateFiles::Platform
