#pragma once

#include <QtGlobal>

// Qt's HTTP client leaves Nagle's algorithm on and offers no way to reach its sockets. A form upload goes out as a
// small header write followed by the body, so the body's last partial segment waits in our send queue until the
// store acknowledges the header, which a receiver may delay by up to 40 ms: on loopback many round trips took
// 45 ms instead of 4. This turns the algorithm off on the process's connected TCP sockets to the given port; the
// uploader calls it before each request, so a kept-alive connection sends every request without that wait. Where the
// system offers no way to find those sockets it does nothing.
namespace UploadSocket {

// Returns how many sockets it changed.
int sendWithoutDelay(quint16 peerPort);

} // namespace UploadSocket
