#include "app/HandOver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSysInfo>
#include <QTimer>

#include "app/AccountIdentity.h"
#include "core/AppLog.h"
#include "core/Clock.h"
#include "core/Settings.h"

namespace {

const QByteArray kRequest = QByteArrayLiteral("hand over\n");
const QByteArray kAnswer = QByteArrayLiteral("handing over\n");

void logLine(const QString& text)
{
    AppLog::write(QStringLiteral("hand-over: ") + text);
}

qint64 monotonicNow()
{
    return Clock::current().monotonicMSecs();
}

QString shortHash(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

QString accountId()
{
    return QString::fromStdString(AccountIdentity::accountId());
}

} // namespace

HandOver::HandOver(QObject* parent) : QObject(parent)
{
    m_retryTimer = new QTimer(this);
    connect(m_retryTimer, &QTimer::timeout, this, &HandOver::retry);
    m_heartbeat = new QTimer(this);
    connect(m_heartbeat, &QTimer::timeout, this, &HandOver::beat);
}

HandOver::~HandOver()
{
    release();
}

QString HandOver::runtimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && AccountIdentity::isOwnerOnlyFolder(runtime.toStdWString()))
        return QDir(runtime).absolutePath();
    // Named by the account's real id, not by $USER or %USERNAME%: a browser or a service may start the program
    // without it, and anyone can set it.
    const QString own = QDir::tempPath() + QStringLiteral("/ambrel-") + accountId();
    AccountIdentity::makeOwnerOnlyFolder(own.toStdWString());
    return AccountIdentity::isOwnerOnlyFolder(own.toStdWString()) ? own : QString();
}

QString HandOver::channelName()
{
    // Copies in another process table (a demo, a test run) neither see nor end this one: they get a channel of
    // their own.
    const QString name =
        Settings::instanceName() + QLatin1Char('-') + QString::fromStdString(AccountIdentity::processTableId());
    if (!AccountIdentity::channelIsFile()) {
        // A named pipe, which every account of the machine sees whatever folder: its name carries the account.
        return name + QLatin1Char('-') + shortHash(accountId());
    }
    const QString folder = runtimeFolder();
    if (!folder.isEmpty())
        return folder + QLatin1Char('/') + name + QStringLiteral(".socket");
    return name + QStringLiteral("-uid") + accountId();
}

QString HandOver::runtimeLockPath(const QString& workingFolder)
{
    const QFileInfo folder(workingFolder);
    const QString key = folder.canonicalFilePath().isEmpty() ? folder.absoluteFilePath() : folder.canonicalFilePath();
    return runtimeFolder() + QStringLiteral("/ambrel-") + shortHash(key) + QStringLiteral(".lock");
}

void HandOver::setAnswerTimeout(int ms)
{
    m_answerTimeoutMs = ms;
}

void HandOver::setHeartbeatInterval(int ms)
{
    m_heartbeatMs = ms;
}

void HandOver::setRetryInterval(int ms)
{
    m_retryMs = ms;
}

bool HandOver::ownsFolder() const
{
    return m_owns;
}

bool HandOver::waitsForFolder() const
{
    return !m_owns && m_retryTimer->isActive();
}

bool HandOver::askRunningCopy()
{
    QLocalSocket socket;
    socket.connectToServer(channelName());
    if (!socket.waitForConnected(m_answerTimeoutMs))
        return false;
    socket.write(kRequest);
    const qint64 started = monotonicNow();
    QByteArray answer;
    while (!answer.contains('\n') && monotonicNow() - started < m_answerTimeoutMs &&
           socket.state() == QLocalSocket::ConnectedState) {
        socket.waitForReadyRead(int(qMax<qint64>(1, m_answerTimeoutMs - (monotonicNow() - started))));
        answer += socket.readAll();
    }
    return answer == kAnswer;
}

bool HandOver::takeOver(const QString& workingFolder)
{
    if (m_owns && m_workingFolder == workingFolder)
        return true;
    release();
    m_workingFolder = workingFolder;
    m_startedMs = monotonicNow();
    // A copy started a moment earlier may hold the folder but not serve the channel yet: it is asked again for a
    // while on the retries, so that near-simultaneous starts hand over instead of one waiting for ever.
    m_askUntilMs = m_startedMs + m_answerTimeoutMs;
    m_answered = askRunningCopy();
    if (m_answered)
        logLine(QStringLiteral("the running copy is handing over"));
    if (tryToOwn())
        return true;
    logLine(QStringLiteral("another copy holds %1: this copy waits and tries again every %2 ms")
                .arg(workingFolder)
                .arg(m_retryMs));
    m_retryTimer->start(m_retryMs);
    return false;
}

HandOver::Lock HandOver::tryRuntimeLock()
{
    if (runtimeFolder().isEmpty())
        return Lock::Unwritable;
    auto lock = std::make_unique<QLockFile>(runtimeLockPath(m_workingFolder));
    // Judged by its process alone: the holder runs on this machine.
    lock->setStaleLockTime(0);
    bool locked = lock->tryLock(0);
    if (!locked && lock->error() != QLockFile::LockFailedError)
        return Lock::Unwritable;
    qint64 holder = 0;
    // Left by an ended copy whose process id this process has now (ids are reused, and each process table counts
    // its own). A live holder keeps a file lock on it, so removing it fails then.
    if (!locked && lock->getLockInfo(&holder, nullptr, nullptr) && holder == QCoreApplication::applicationPid() &&
        lock->removeStaleLockFile())
        locked = lock->tryLock(0);
    if (!locked)
        return Lock::Held;
    m_runtimeLock = std::move(lock);
    return Lock::Taken;
}

HandOver::Lock HandOver::tryFolderLock()
{
    const QString path = QDir(m_workingFolder).filePath(QLatin1String(LockFileName));
    auto lock = std::make_unique<QLockFile>(path);
    // Not by its age against the wall clock: clocks of two machines disagree, and a clock may be set back.
    lock->setStaleLockTime(0);
    bool locked = lock->tryLock(0);
    if (!locked && lock->error() != QLockFile::LockFailedError)
        return Lock::Unwritable;
    qint64 holder = 0;
    QString host;
    if (!locked && lock->getLockInfo(&holder, &host, nullptr) && holder == QCoreApplication::applicationPid() &&
        host == QSysInfo::machineHostName() && lock->removeStaleLockFile())
        locked = lock->tryLock(0);
    if (!locked) {
        // A holder on another machine is judged by its heartbeat: a lock file that has not changed for a few beats
        // of this copy's own monotonic clock belongs to a copy that is gone, whatever host wrote it.
        const qint64 now = monotonicNow();
        const QString stamp = QString::number(holder) + QLatin1Char('@') + host + QLatin1Char('@') +
                              QString::number(QFileInfo(path).lastModified().toMSecsSinceEpoch());
        if (stamp != m_seenStamp) {
            m_seenStamp = stamp;
            m_seenSinceMs = now;
            return Lock::Held;
        }
        const qint64 quiet = now - m_seenSinceMs;
        if (quiet < qint64(StaleAfterBeats) * m_heartbeatMs)
            return Lock::Held;
        logLine(QStringLiteral("the lock of process %1 on %2 was not refreshed for %3 s: taken as stale")
                    .arg(holder)
                    .arg(host)
                    .arg(quiet / 1000));
        m_seenStamp.clear();
        if (!lock->removeStaleLockFile() || !lock->tryLock(0))
            return Lock::Held;
    }
    m_seenStamp.clear();
    m_folderLock = std::move(lock);
    return Lock::Taken;
}

bool HandOver::tryToOwn()
{
    const Lock runtime = m_runtimeLock ? Lock::Taken : tryRuntimeLock();
    const Lock folder = runtime == Lock::Held ? Lock::Held : tryFolderLock();
    if (runtime == Lock::Held || folder == Lock::Held) {
        // Not kept while waiting: a third copy of this machine would otherwise wait on a copy that waits too.
        m_runtimeLock.reset();
        return false;
    }
    // Neither lock could be written: the copy that answered may still be finishing its request.
    if (runtime == Lock::Unwritable && folder == Lock::Unwritable && m_answered) {
        QLocalSocket socket;
        socket.connectToServer(channelName());
        if (socket.waitForConnected(100))
            return false;
    }
    m_owns = true;
    m_retryTimer->stop();
    m_heartbeat->start(m_heartbeatMs);
    listen();
    logLine(QStringLiteral("this copy owns %1 after %2 ms").arg(m_workingFolder).arg(monotonicNow() - m_startedMs));
    // No other copy answers and none holds a lock: a lock that cannot be written (a full disk, a read-only
    // folder) must not stop the only worker. Written again on every heartbeat.
    if (runtime == Lock::Unwritable)
        logLine(QStringLiteral("cannot write the lock in the runtime folder \"%1\"; no other copy answers, so this "
                               "copy uploads")
                    .arg(runtimeFolder()));
    if (folder == Lock::Unwritable)
        logLine(QStringLiteral("cannot write the lock file in %1 (disk full or read-only?); no other copy answers, so "
                               "this copy uploads and writes it as soon as it can")
                    .arg(m_workingFolder));
    return true;
}

void HandOver::retry()
{
    if (!m_answered && monotonicNow() < m_askUntilMs) {
        m_answered = askRunningCopy();
        if (m_answered)
            logLine(QStringLiteral("the running copy is handing over"));
    }
    if (tryToOwn())
        emit folderWon();
}

void HandOver::beat()
{
    if (!m_owns)
        return;
    if (!m_runtimeLock && tryRuntimeLock() == Lock::Taken)
        logLine(QStringLiteral("the lock in the runtime folder is written now"));
    if (!m_folderLock) {
        if (tryFolderLock() == Lock::Taken)
            logLine(QStringLiteral("the lock file in %1 is written now").arg(m_workingFolder));
        return;
    }
    // Taken by a copy on another machine that judged it stale (this computer slept longer than the stale bound):
    // that copy drains the folder now. Its lock file is left alone, and this copy waits for the folder again.
    qint64 holder = 0;
    QString host;
    if (m_folderLock->getLockInfo(&holder, &host, nullptr) &&
        (holder != QCoreApplication::applicationPid() || host != QSysInfo::machineHostName())) {
        logLine(QStringLiteral("the lock file in %1 now names process %2 on %3: this copy stops uploading and waits "
                               "for the folder")
                    .arg(m_workingFolder)
                    .arg(holder)
                    .arg(host));
        // Deleting the lock object would remove the file it names, which is the other copy's now.
        (void)m_folderLock.release();
        release();
        emit folderLost();
        return;
    }
    // The heartbeat: copies on other machines take a lock that stops changing for a few beats as stale. Touching
    // the file writes no data, so it works on a full disk too.
    QFile file(QDir(m_workingFolder).filePath(QLatin1String(LockFileName)));
    // Never made anew here: a lock file that is gone is not this copy's to write.
    const bool refreshed = file.open(QIODevice::Append | QIODevice::ExistingOnly) &&
                           file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
    if (!refreshed && !m_refreshFailureLogged)
        logLine(QStringLiteral("cannot refresh the lock file in %1: %2").arg(m_workingFolder, file.errorString()));
    m_refreshFailureLogged = !refreshed;
}

bool HandOver::listen()
{
    if (m_server)
        return true;
    m_server = new QLocalServer(this);
    // Only this user reaches the channel.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A channel left behind by a copy that was ended is taken over: this copy holds the folder, so no live copy
    // serves it.
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
    m_retryTimer->stop();
    m_heartbeat->stop();
    m_owns = false;
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    if (m_folderLock) {
        m_folderLock->unlock();
        m_folderLock.reset();
    }
    if (m_runtimeLock) {
        m_runtimeLock->unlock();
        m_runtimeLock.reset();
    }
}
