#pragma once

#include <cstdint>

// Qt's HTTP client leaves Nagle's algorithm on and offers no way to reach its sockets. A POST goes out as a small
// header write followed by the body, so the body waits in our send queue until the server acknowledges the header,
// which a receiver may delay by up to 40 ms: on loopback each announcement took 45 ms instead of 3. This turns the
// algorithm off on the process's connected TCP sockets to the given port; the worker calls it before each
// announcement, so the connection kept from the last call sends without that wait. (The store's uploads go through
// libcurl, which sends without delay itself.) Where the system offers no way to find those sockets it does nothing.
namespace UploadSocket {

// Returns how many sockets it changed.
int sendWithoutDelay(std::uint16_t peerPort);

} // namespace UploadSocket
