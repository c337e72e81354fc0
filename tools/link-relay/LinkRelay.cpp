#include "LinkRelay.h"

#include <algorithm>
#include <atomic>
#include <map>

#include <QElapsedTimer>
#include <QMetaObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace {

// One direction of the link: bytes wait for the line to be free, take their time on it, then half a round trip.
struct Direction
{
    qint64 busyUntilNs = 0;
};

struct Delivery
{
    QPointer<QTcpSocket> to;
    QByteArray bytes;
    bool close = false;
};

} // namespace

class LinkRelay::Private : public QObject
{
public:
    Private(int roundTripMs, double megabitsPerSecond) : m_roundTripMs(roundTripMs), m_mbps(megabitsPerSecond)
    {
        m_clock.start();
        // A child, so that it moves to the relay's thread with it.
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, this, [this] { deliverDue(); });
    }

    quint16 listen(quint16 targetPort)
    {
        auto* server = new QTcpServer(this);
        if (!server->listen(QHostAddress::LocalHost, 0))
            return 0;
        const quint16 port = server->serverPort();
        m_counts[port] = 0;
        QObject::connect(server, &QTcpServer::newConnection, this, [this, server, port, targetPort] {
            while (QTcpSocket* client = server->nextPendingConnection())
                accept(client, port, targetPort);
        });
        return port;
    }

    int roundTripMs() const { return m_roundTripMs; }
    double megabitsPerSecond() const { return m_mbps; }
    std::map<quint16, std::atomic<int>> m_counts;

private:
    void accept(QTcpSocket* client, quint16 port, quint16 targetPort)
    {
        ++m_counts[port];
        client->setParent(this);
        auto* target = new QTcpSocket(this);
        target->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        target->connectToHost(QHostAddress::LocalHost, targetPort);
        // The connection's own set-up crosses the link too: nothing the client sends leaves before a round trip.
        const qint64 openNs = m_clock.nsecsElapsed() + qint64(m_roundTripMs) * 1000000;
        pipe(client, target, m_up, openNs);
        pipe(target, client, m_down, 0);
    }

    void pipe(QTcpSocket* from, QTcpSocket* to, Direction& direction, qint64 notBeforeNs)
    {
        QPointer<QTcpSocket> receiver(to);
        QObject::connect(from, &QTcpSocket::readyRead, this, [this, from, receiver, &direction, notBeforeNs] {
            const QByteArray bytes = from->readAll();
            if (!bytes.isEmpty())
                schedule(direction, Delivery{receiver, bytes, false}, notBeforeNs);
        });
        QObject::connect(from, &QTcpSocket::disconnected, this, [this, from, receiver, &direction] {
            schedule(direction, Delivery{receiver, QByteArray(), true}, 0);
            from->deleteLater();
        });
    }

    void schedule(Direction& direction, Delivery delivery, qint64 notBeforeNs)
    {
        const qint64 now = std::max(m_clock.nsecsElapsed(), notBeforeNs);
        const qint64 start = std::max(now, direction.busyUntilNs);
        const qint64 onLine = qint64(double(delivery.bytes.size()) * 8.0 / (m_mbps * 1e6) * 1e9);
        direction.busyUntilNs = start + onLine;
        const qint64 due = direction.busyUntilNs + qint64(m_roundTripMs) * 1000000 / 2;
        m_queue.emplace(due, std::move(delivery));
        arm();
    }

    void arm()
    {
        if (m_queue.empty())
            return;
        const qint64 waitNs = m_queue.begin()->first - m_clock.nsecsElapsed();
        m_timer->start(int(std::max<qint64>(0, waitNs / 1000000)));
    }

    void deliverDue()
    {
        const qint64 now = m_clock.nsecsElapsed();
        while (!m_queue.empty() && m_queue.begin()->first <= now) {
            Delivery delivery = std::move(m_queue.begin()->second);
            m_queue.erase(m_queue.begin());
            if (!delivery.to)
                continue;
            if (delivery.close)
                delivery.to->disconnectFromHost();
            else
                delivery.to->write(delivery.bytes);
        }
        arm();
    }

    int m_roundTripMs;
    double m_mbps;
    QElapsedTimer m_clock;
    QTimer* m_timer = nullptr;
    Direction m_up;
    Direction m_down;
    // In the order they are due; equal times keep the order they came in.
    std::multimap<qint64, Delivery> m_queue;
};

LinkRelay::LinkRelay(int roundTripMs, double megabitsPerSecond)
    : m_thread(std::make_unique<QThread>()), d(new Private(roundTripMs, megabitsPerSecond))
{
    m_thread->setObjectName(QStringLiteral("link relay"));
    d->moveToThread(m_thread.get());
    m_thread->start();
}

LinkRelay::~LinkRelay()
{
    // Its sockets and timer are children of the relay: they go on the relay's own thread.
    Private* relay = d;
    QMetaObject::invokeMethod(
        relay, [relay] { delete relay; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

quint16 LinkRelay::addHost(quint16 targetPort)
{
    quint16 port = 0;
    QMetaObject::invokeMethod(
        d, [this, targetPort, &port] { port = d->listen(targetPort); }, Qt::BlockingQueuedConnection);
    return port;
}

int LinkRelay::connections(quint16 port) const
{
    const auto it = d->m_counts.find(port);
    return it == d->m_counts.end() ? 0 : it->second.load();
}

int LinkRelay::roundTripMs() const
{
    return d->roundTripMs();
}

double LinkRelay::megabitsPerSecond() const
{
    return d->megabitsPerSecond();
}
