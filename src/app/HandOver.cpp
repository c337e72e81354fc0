#include "app/HandOver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include "core/AppLog.h"
#include "core/Settings.h"

namespace {

const QByteArray kRequest = QByteArrayLiteral("hand over\n");
const QByteArray kAnswer = QByteArrayLiteral("handing over\n");

void logLine(const QString& text)
{
    AppLog::write(QStringLiteral("hand-over: ") + text);
}

QString userName()
{
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        name = qEnvironmentVariable("USERNAME");
    return name;
}

} // namespace

HandOver::HandOver(QObject* parent) : QObject(parent) {}

HandOver::~HandOver()
{
    release();
}

QString HandOver::channelName()
{
    // Hashed: a user name may hold characters a socket or pipe name cannot.
    const QByteArray user = QCryptographicHash::hash(userName().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return Settings::instanceName() + QLatin1Char('-') + QString::fromLatin1(user);
}

void HandOver::setAnswerTimeout(int ms)
{
    m_answerTimeoutMs = ms;
}

void HandOver::setLockTimeout(int ms)
{
    m_lockTimeoutMs = ms;
}

bool HandOver::ownsFolder() const
{
    return m_lock && m_lock->isLocked();
}

bool HandOver::askRunningCopy()
{
    QLocalSocket socket;
    socket.connectToServer(channelName());
    if (!socket.waitForConnected(m_answerTimeoutMs))
        return false;
    socket.write(kRequest);
    QElapsedTimer waited;
    waited.start();
    QByteArray answer;
    while (!answer.contains('\n') && waited.elapsed() < m_answerTimeoutMs &&
           socket.state() == QLocalSocket::ConnectedState) {
        socket.waitForReadyRead(int(m_answerTimeoutMs - waited.elapsed()));
        answer += socket.readAll();
    }
    return answer == kAnswer;
}

bool HandOver::takeOver(const QString& workingFolder, const std::function<void()>& endOldCopy)
{
    const QString lockPath = QDir(workingFolder).filePath(QLatin1String(LockFileName));
    if (ownsFolder() && m_lockPath == lockPath)
        return true;
    m_lock.reset();
    m_lockPath = lockPath;
    QElapsedTimer clock;
    clock.start();
    bool handingOver = false;
    if (!m_server && askRunningCopy()) {
        handingOver = true;
        logLine(QStringLiteral("the running copy is handing over"));
    } else if (endOldCopy) {
        // No copy answered (none runs, one that does not speak this, or this process serves the channel itself
        // and there is no other copy to ask): the old rule.
        endOldCopy();
    }
    m_lock = std::make_unique<QLockFile>(lockPath);
    // Never taken for stale by its age: the copy holding it may run for days. A lock whose process is gone is.
    m_lock->setStaleLockTime(0);
    // A copy that hands over finishes its request first; one that was ended lets go at once.
    bool locked = m_lock->tryLock(0);
    qint64 holder = 0;
    // Left by an ended copy whose process id this process has now (ids are reused, and each process namespace
    // counts its own): nobody holds it.
    if (!locked && m_lock->getLockInfo(&holder, nullptr, nullptr) && holder == QCoreApplication::applicationPid()) {
        m_lock->removeStaleLockFile();
        locked = m_lock->tryLock(0);
    }
    if (!locked)
        locked = m_lock->tryLock(handingOver ? m_lockTimeoutMs : m_answerTimeoutMs);
    if (!locked) {
        qint64 pid = 0;
        QString host;
        QString application;
        m_lock->getLockInfo(&pid, &host, &application);
        logLine(QStringLiteral("%1 stays held by process %2 on %3; this copy uploads nothing")
                    .arg(m_lock->error() == QLockFile::LockFailedError ? QStringLiteral("the folder's lock")
                                                                       : QStringLiteral("the lock file"))
                    .arg(pid)
                    .arg(host));
        m_lock.reset();
        return false;
    }
    logLine(QStringLiteral("this copy owns %1 after %2 ms").arg(workingFolder).arg(clock.elapsed()));
    return true;
}

bool HandOver::listen()
{
    if (m_server)
        return true;
    m_server = new QLocalServer(this);
    // Only this user reaches the channel.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A channel left behind by a copy that was ended is taken over; one that a live copy serves answered above.
    QLocalServer::removeServer(channelName());
    if (!m_server->listen(channelName())) {
        logLine(QStringLiteral("cannot listen on %1: %2").arg(channelName(), m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() != kRequest) {
                    socket->disconnectFromServer();
                    return;
                }
                socket->write(kAnswer);
                socket->flush();
                logLine(QStringLiteral("a new start asks for the folder"));
                emit handOverRequested();
            });
        }
    });
    return true;
}

void HandOver::release()
{
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    if (m_lock) {
        m_lock->unlock();
        m_lock.reset();
    }
}
