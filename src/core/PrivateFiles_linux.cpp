#include "core/PrivateFiles.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <QFile>
#include <QString>

namespace PrivateFiles::Platform {

void restrictEntry(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status;
    // A link put in place since the listing is left alone: chmod would change what it points to.
    if (::lstat(native.constData(), &status) != 0 || S_ISLNK(status.st_mode))
        return;
    // Only the group's and the others' rights go: what the owner may do stays as it was (a folder kept read-only
    // stays so).
    const mode_t wanted = status.st_mode & S_IRWXU;
    if ((status.st_mode & 07777) != wanted)
        ::chmod(native.constData(), wanted);
}

void restrictNewFiles()
{
    ::umask(S_IRWXG | S_IRWXO);
}

} // namespace PrivateFiles::Platform
