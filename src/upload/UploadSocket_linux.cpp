#include "upload/UploadSocket.h"

#include <cstdlib>

#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace UploadSocket {

int sendWithoutDelay(quint16 peerPort)
{
    DIR* fds = opendir("/proc/self/fd");
    if (!fds)
        return 0;
    const int own = dirfd(fds);
    int changed = 0;
    while (dirent* entry = readdir(fds)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own)
            continue;
        struct stat info
        {
        };
        if (fstat(int(fd), &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        int type = 0;
        socklen_t length = sizeof(type);
        if (getsockopt(int(fd), SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
            continue;
        sockaddr_storage peer{};
        length = sizeof(peer);
        if (getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
            continue;
        quint16 port = 0;
        if (peer.ss_family == AF_INET)
            port = ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
        else if (peer.ss_family == AF_INET6)
            port = ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port);
        else
            continue;
        if (port != peerPort)
            continue;
        int noDelay = 0;
        length = sizeof(noDelay);
        if (getsockopt(int(fd), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length) != 0 || noDelay)
            continue;
        noDelay = 1;
        if (setsockopt(int(fd), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay)) == 0)
            ++changed;
    }
    closedir(fds);
    return changed;
}

} // namespace UploadSocket
