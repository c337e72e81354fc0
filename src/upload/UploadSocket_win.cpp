#include "upload/UploadSocket.h"

namespace UploadSocket {

// Windows offers no listing of a process's sockets to find Qt's: its connections keep the system's default.
int sendWithoutDelay(quint16 peerPort)
{
    Q_UNUSED(peerPort);
    return 0;
}

} // namespace UploadSocket
