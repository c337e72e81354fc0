#include "upload/UploadLoop.h"

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace {

// A file's identity for the loop's memory: the same path with other contents is another file.
QString signature(const QFileInfo& info)
{
    return info.absoluteFilePath() + QLatin1Char('\n') + QString::number(info.size()) + QLatin1Char('\n') +
           QString::number(info.lastModified().toMSecsSinceEpoch());
}

// Size and modification time, read at once (QFileInfo fetches them lazily and would read them later).
struct Stamp
{
    qint64 size = -1;
    qint64 modifiedMs = 0;
    bool operator==(const Stamp& other) const { return size == other.size && modifiedMs == other.modifiedMs; }
};

Stamp stampOf(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Stamp();
    return Stamp{info.size(), info.lastModified().toMSecsSinceEpoch()};
}

} // namespace

qint64 UploadLoop::SystemClock::currentMSecsSinceEpoch()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void UploadLoop::ThreadSleeper::sleep(int ms)
{
    QThread* thread = QThread::currentThread();
    while (ms > 0 && !thread->isInterruptionRequested()) {
        const int slice = std::min(ms, 100);
        QThread::msleep(static_cast<unsigned long>(slice));
        ms -= slice;
    }
}

UploadLoop::UploadLoop(Service& service, Uploader& uploader, Clock& clock, Sleeper& sleeper, const QString& uid,
                       const QString& taskId)
    : UploadLoop(service, uploader, clock, sleeper, uid, taskId, Intervals())
{
}

UploadLoop::UploadLoop(Service& service, Uploader& uploader, Clock& clock, Sleeper& sleeper, const QString& uid,
                       const QString& taskId, const Intervals& intervals)
    : m_service(service), m_uploader(uploader), m_clock(clock), m_sleeper(sleeper), m_uid(uid), m_taskId(taskId),
      m_intervals(intervals), m_removeFile([](const QString& path) { return QFile::remove(path); })
{
}

void UploadLoop::setRemoveFile(std::function<bool(const QString&)> removeFile)
{
    m_removeFile = std::move(removeFile);
}

void UploadLoop::setKeepGoing(std::function<bool()> keepGoing)
{
    m_keepGoing = std::move(keepGoing);
}

bool UploadLoop::keepGoing() const
{
    return !m_keepGoing || m_keepGoing();
}

void UploadLoop::run()
{
    // Without a task the folder would be image/ itself and the keys would name no task: nothing to upload.
    if (m_taskId.isEmpty())
        return;
    if (!acquireCredentials())
        return;
    while (keepGoing()) {
        runPass();
        if (m_nextPassDelayMs > 0 && keepGoing())
            m_sleeper.sleep(m_nextPassDelayMs);
    }
}

bool UploadLoop::acquireCredentials()
{
    while (keepGoing()) {
        if (m_service.getUploadToken())
            return true;
        m_sleeper.sleep(m_intervals.credentialsRetryMs);
    }
    return false;
}

QString UploadLoop::folder() const
{
    return QDir::currentPath() + QStringLiteral("/image/") + m_taskId + QLatin1Char('/');
}

QString UploadLoop::objectKey(const QString& uid, const QString& taskId, qint64 ms, const QString& fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : fileName.mid(dot + 1);
    return QStringLiteral("paper/origin/") + uid + QLatin1Char('/') + taskId + QLatin1Char('/') + QString::number(ms) +
           QLatin1Char('.') + extension;
}

int UploadLoop::nextPassDelayMs() const
{
    return m_nextPassDelayMs;
}

int UploadLoop::runPass()
{
    if (m_taskId.isEmpty()) {
        m_nextPassDelayMs = m_intervals.idlePauseMs;
        return 0;
    }
    const QString path = folder();
    QDir dir(path);
    if (!dir.exists())
        QDir().mkdir(path);

    // Without QDir::Hidden hidden files are left out, and name filters match without regard to case.
    const QFileInfoList entries =
        dir.entryInfoList({QStringLiteral("*.bmp"), QStringLiteral("*.jpg"), QStringLiteral("*.png")},
                          QDir::Files | QDir::Readable, QDir::Name);

    int stored = 0;
    qint64 soonestSettle = -1;
    QSet<QString> listed;
    for (const QFileInfo& entry : entries) {
        if (!keepGoing())
            break;
        // Fresh look: the listing may be old by now.
        const QFileInfo info(entry.absoluteFilePath());
        if (!info.exists() || !info.isReadable())
            break; // gone or locked since the listing: the next pass lists the folder afresh
        const QString sig = signature(info);
        listed.insert(sig);
        if (m_undeletable.contains(sig))
            continue;

        // A file still being written by a producer that does not use the atomic hand-over keeps changing its
        // modification time; take it only once it has been left alone for a while.
        const qint64 now = m_clock.currentMSecsSinceEpoch();
        const qint64 age = now - info.lastModified().toMSecsSinceEpoch();
        qint64 wait = 0;
        if (age < 0) {
            // Time stamp in the future (clock skew, a copy that kept its time): settle on our own clock instead.
            const qint64 first = m_firstSeen.value(sig, now);
            m_firstSeen.insert(sig, first);
            wait = m_intervals.settleMs - (now - first);
        } else {
            wait = m_intervals.settleMs - age;
        }
        if (wait > 0) {
            soonestSettle = soonestSettle < 0 ? wait : std::min(soonestSettle, wait);
            continue;
        }

        const Outcome outcome = uploadOne(info.absoluteFilePath());
        if (outcome == Outcome::Done)
            ++stored;
        else if (outcome == Outcome::LeavePass)
            break;
    }

    for (auto it = m_firstSeen.begin(); it != m_firstSeen.end();) {
        if (listed.contains(it.key()))
            ++it;
        else
            it = m_firstSeen.erase(it);
    }

    if (stored > 0)
        m_nextPassDelayMs = 0;
    else if (soonestSettle > 0)
        m_nextPassDelayMs = static_cast<int>(std::min<qint64>(soonestSettle, m_intervals.idlePauseMs));
    else
        m_nextPassDelayMs = m_intervals.idlePauseMs;
    return stored;
}

UploadLoop::Outcome UploadLoop::uploadOne(const QString& path)
{
    bool refreshedAfterRefusal = false;
    while (keepGoing()) {
        const QFileInfo before(path);
        if (!before.exists() || !before.isReadable())
            return Outcome::LeavePass;

        const Stamp sent = stampOf(path);
        const QString key = objectKey(m_uid, m_taskId, m_clock.currentMSecsSinceEpoch(), before.fileName());
        const int code = m_uploader.putFile(m_service.uploadToken(), key, path);

        if (code == Stored || code == AlreadyStored) {
            m_backoffMs = 0;
            // Written to while it was sent: what the store holds may be incomplete. Neither announce nor delete;
            // the file is sent again once it has settled.
            if (!(stampOf(path) == sent))
                return Outcome::Skipped;
            m_service.analyseAnswerImage(key);
            if (!m_removeFile(path) && QFileInfo::exists(path))
                m_undeletable.insert(signature(QFileInfo(path)));
            return Outcome::Done;
        }

        // Gone while it was being sent: the next pass lists the folder afresh.
        if (!QFileInfo::exists(path))
            return Outcome::LeavePass;

        if (code == TokenRefused) {
            // Refused again right after a fresh token: the service is not helping, do not hammer the store.
            if (refreshedAfterRefusal)
                backOff();
            m_service.getUploadToken();
            refreshedAfterRefusal = true;
            continue;
        }

        if (code == FileUnreadable) {
            // Locked since the look above: the store is not to blame, so no back-off. The file waits for a later
            // pass and the files behind it go on.
            return Outcome::Skipped;
        }

        refreshedAfterRefusal = false;
        backOff();
    }
    return Outcome::LeavePass;
}

void UploadLoop::backOff()
{
    m_backoffMs = m_backoffMs == 0 ? m_intervals.backoffInitialMs
                                   : std::min(m_backoffMs * 2, std::max(m_intervals.backoffMaxMs, 1));
    if (keepGoing())
        m_sleeper.sleep(m_backoffMs);
}
