#pragma once

#include <memory>

#include <QtGlobal>

class QThread;

// A school's link in miniature: TCP relays on 127.0.0.1, one per host behind the link, that pass every byte on after
// half a round trip in each direction and let through no more than the link's bandwidth in each direction (shared by
// every connection of every host, as one link is). TLS passes through unchanged. Runs on a thread of its own; counts
// the connections each host was asked for.
class LinkRelay
{
public:
    LinkRelay(int roundTripMs, double megabitsPerSecond);
    ~LinkRelay();
    LinkRelay(const LinkRelay&) = delete;
    LinkRelay& operator=(const LinkRelay&) = delete;

    // A host behind the link, reached on the returned port; 0 when no port could be had.
    quint16 addHost(quint16 targetPort);
    // Connections opened so far through the host listening on port.
    int connections(quint16 port) const;

    int roundTripMs() const;
    double megabitsPerSecond() const;

private:
    class Private;
    std::unique_ptr<QThread> m_thread;
    Private* d;
};
