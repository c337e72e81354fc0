#include "app/AccountIdentity.h"

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A path as the file functions take it: in the locale's encoding, as Qt encodes file names here too. False when a
// character has no form in that encoding: no such file can exist.
bool toFileName(const std::wstring& path, std::string& name)
{
    const std::size_t length = std::wcstombs(nullptr, path.c_str(), 0);
    if (length == static_cast<std::size_t>(-1))
        return false;
    name.resize(length);
    std::wcstombs(&name[0], path.c_str(), length);
    return true;
}

} // namespace

std::string AccountIdentity::accountId()
{
    // The real id, not the effective one: a set-user-id wrapper must not move the channel to another account.
    return std::to_string(::getuid());
}

std::string AccountIdentity::processTableId()
{
    char target[64] = {};
    const ssize_t length = ::readlink("/proc/self/ns/pid", target, sizeof(target) - 1);
    if (length <= 0)
        return std::string();
    std::string id;
    for (ssize_t i = 0; i < length; ++i) {
        if (target[i] >= '0' && target[i] <= '9')
            id += target[i];
    }
    return id;
}

bool AccountIdentity::channelIsFile()
{
    return true;
}

bool AccountIdentity::isOwnerOnlyFolder(const std::wstring& path)
{
    std::string name;
    struct stat info = {};
    if (!toFileName(path, name) || ::lstat(name.c_str(), &info) != 0)
        return false;
    // lstat: a link to a folder is not the folder; another account could point it anywhere.
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

void AccountIdentity::makeOwnerOnlyFolder(const std::wstring& path)
{
    std::string name;
    if (toFileName(path, name))
        ::mkdir(name.c_str(), 0700);
}
