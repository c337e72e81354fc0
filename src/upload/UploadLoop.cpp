#include "upload/UploadLoop.h"

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "core/AppLog.h"
#include "core/SecureTransport.h"
#include "core/Settings.h"
#include "core/TaskDatabase.h"
#include "upload/UploadFolder.h"
#include "upload/UploadLoopSupport.h"

namespace UploadLoopSupport {

// A file's identity in the ledger: the same name with other contents is another image.
UploadLedger::Identity identityOf(const QFileInfo& info)
{
    return UploadLedger::Identity{info.fileName(), info.size(), info.lastModified().toMSecsSinceEpoch()};
}

QString signature(const UploadLedger::Identity& image)
{
    return image.name + QLatin1Char('\n') + QString::number(image.size) + QLatin1Char('\n') +
           QString::number(image.modifiedMs);
}

// Whether the file at path still has the size and modification time it was listed with.
bool isUnchanged(const QString& path, const UploadLedger::Identity& image)
{
    const QFileInfo info(path);
    return info.exists() && info.size() == image.size && info.lastModified().toMSecsSinceEpoch() == image.modifiedMs;
}

// The store's refusals that sending again will not heal: a 4xx other than a refused token.
bool isRefusal(int code)
{
    return code >= 400 && code < 500 && code != UploadLoop::TokenRefused;
}

void logLine(const QString& text)
{
    AppLog::write(QStringLiteral("upload: ") + text);
}

} // namespace UploadLoopSupport

using namespace UploadLoopSupport;

UploadLoop::Announcement UploadLoop::Service::announce(const QString&, const QString& key)
{
    Announcement announcement;
    announcement.outcome = analyseAnswerImage(key) ? Announcement::Taken : Announcement::Failed;
    return announcement;
}

QString UploadLoop::notAnImageReason()
{
    return QStringLiteral("不是图片文件");
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

UploadLoop::UploadLoop(Service& service, Uploader& uploader, const Clock& clock, Sleeper& sleeper, UploadLedger& ledger,
                       const QString& uid, const TaskFolders& folders)
    : UploadLoop(service, uploader, clock, sleeper, ledger, uid, folders, Intervals())
{
}

UploadLoop::UploadLoop(Service& service, Uploader& uploader, const Clock& clock, Sleeper& sleeper, UploadLedger& ledger,
                       const QString& uid, const TaskFolders& folders, const Intervals& intervals)
    : m_service(service), m_uploader(uploader), m_clock(clock), m_sleeper(sleeper), m_ledger(ledger), m_uid(uid),
      m_folders(folders), m_intervals(intervals), m_removeFile([](const QString& path) { return QFile::remove(path); })
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
    run({});
}

void UploadLoop::run(const QList<UploadLoop*>& alongside)
{
    // Without a task the folder would be image/ itself and the keys would name no task: nothing to upload.
    if (!m_folders.isValid())
        return;
    if (!acquireCredentials())
        return;
    while (keepGoing()) {
        runPass();
        int delay = m_nextPassDelayMs;
        for (UploadLoop* other : alongside) {
            if (!keepGoing())
                break;
            other->runPass();
            delay = std::min(delay, other->nextPassDelayMs());
        }
        if (delay > 0 && keepGoing())
            m_sleeper.waitForChange(folder(), delay);
    }
}

void UploadLoop::claimTask()
{
    if (m_folders.isValid() && !m_uid.isEmpty() && m_ledger.owner() != m_uid)
        m_ledger.setOwner(m_uid);
}

QList<TaskFolders> UploadLoop::otherTasksOf(const QString& uid, const TaskFolders& own)
{
    QList<TaskFolders> tasks;
    if (uid.isEmpty())
        return tasks;
    for (const TaskFolders& task : own.otherTasks()) {
        if (UploadFolder::listImages(task.imageFolder()).isEmpty())
            continue;
        // Only a database that is there already: looking must not create one for a folder nobody queued.
        if (!QFileInfo::exists(task.databasePath()))
            continue;
        UploadLedger ledger;
        if (ledger.open(task.databasePath()) && ledger.owner() == uid)
            tasks << task;
    }
    return tasks;
}

bool UploadLoop::acquireCredentials()
{
    while (keepGoing()) {
        if (m_service.getUploadToken()) {
            setLink(QueueState::Link::Ok);
            return true;
        }
        // Nothing is sent yet, but the teacher sees what waits: the worker's own look at the folder.
        if (m_folders.isValid())
            setListing(UploadFolder::listImages(folder()));
        // A refused certificate is no outage: only the school's network or the computer's authorities mend it.
        setLink(SecureTransport::isFailing(Settings::apiHost()) ? QueueState::Link::SecureLinkFailed
                                                                : QueueState::Link::ServiceUnreachable);
        changed();
        m_sleeper.sleep(m_intervals.credentialsRetryMs);
    }
    return false;
}

void UploadLoop::retry(const QString& fileName)
{
    for (const QueueState::Image& listed : m_listing) {
        if (listed.name != fileName)
            continue;
        const UploadLedger::Identity image{listed.name, listed.size, listed.modifiedMs};
        m_ledger.clearRefusal(image);
        m_refusedThisRun.remove(signature(image));
        m_heldBack.remove(signature(image));
        logLine(QStringLiteral("refusal cleared at the teacher's request, sent again: ") + listed.path);
    }
    m_runtime.attempts.remove(fileName);
    m_runtime.reasons.remove(fileName);
    changed();
}

QString UploadLoop::folder() const
{
    return m_folders.imageFolder();
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

bool UploadLoop::secureConnectionFailing() const
{
    return m_link == QueueState::Link::SecureLinkFailed;
}

qint64 UploadLoop::nextKeyMs()
{
    // Seeded from the ledger, so that a clock set back between two runs does not reuse an earlier run's key.
    if (m_lastKeyMs < 0)
        m_lastKeyMs = m_ledger.highestKeyMs();
    m_lastKeyMs = std::max(m_clock.currentMSecsSinceEpoch(), m_lastKeyMs + 1);
    return m_lastKeyMs;
}

void UploadLoop::logOnce(const QString& path, const QString& text)
{
    const QString entry = path + QLatin1Char('\n') + text;
    if (m_logged.contains(entry))
        return;
    m_logged.insert(entry);
    AppLog::write(QStringLiteral("upload: ") + text + QStringLiteral(": ") + path);
}

UploadLoop::Outcome UploadLoop::uploadOne(const QFileInfo& info, const UploadLedger::Identity& image,
                                          UploadLedger::Entry entry)
{
    const QString path = info.absoluteFilePath();
    // The key is recorded before the first byte leaves, so that after a crash the same file goes again under the
    // same key. A file known as sent may already be in the store under its key: a 614 then proves it is ours.
    Attempt attempt;
    attempt.mayBeStored = entry.state == UploadLedger::State::Sent && !entry.key.isEmpty();
    attempt.key = attempt.mayBeStored ? entry.key : recordFreshKey(image, path, attempt);
    while (keepGoing()) {
        const QFileInfo before(path);
        if (!before.exists() || !before.isReadable())
            return Outcome::LeavePass;
        // Changed since it was listed: it is another image now, judged afresh by the next pass.
        if (!isUnchanged(path, image))
            return Outcome::Skipped;

        m_runtime.inFlight = image.name;
        changed();
        const int code = m_uploader.putFile(m_service.uploadToken(), attempt.key, path);
        m_runtime.inFlight.clear();

        Outcome outcome = Outcome::LeavePass;
        if (judgePut(code, path, image, attempt, &outcome))
            return outcome;
    }
    return Outcome::LeavePass;
}

// The digest is taken once, when the first key is recorded: it tells this sheet from a later file of the same name,
// size and time.
QString UploadLoop::recordFreshKey(const UploadLedger::Identity& image, const QString& path, Attempt& attempt)
{
    if (attempt.digest.isEmpty())
        attempt.digest = UploadLedger::digestOf(path);
    const qint64 ms = nextKeyMs();
    const QString fresh = objectKey(m_uid, m_folders.taskId(), ms, image.name);
    m_ledger.recordSending(image, fresh, ms, attempt.digest);
    return fresh;
}

bool UploadLoop::judgePut(int code, const QString& path, const UploadLedger::Identity& image, Attempt& attempt,
                          Outcome* outcome)
{
    if (code == Stored || (code == AlreadyStored && attempt.mayBeStored)) {
        // Written to while it was sent: what the store holds may be incomplete. Neither announce nor delete;
        // the file is judged again as the new image it now is.
        if (!isUnchanged(path, image)) {
            *outcome = Outcome::Skipped;
            return true;
        }
        m_ledger.markStored(image);
        succeeded();
        *outcome = announceAndDelete(path, image, attempt.key);
        return true;
    }

    if (code == AlreadyStored) {
        // Another object already has this key (a clock set back, another copy of the program): ours was not
        // stored. Send again under a fresh key, pausing only if that happens twice in a row.
        logOnce(path, QStringLiteral("key %1 taken by another object, sent under a fresh key").arg(attempt.key));
        if (attempt.foreignAgain)
            backOff();
        attempt.foreignAgain = true;
        attempt.key = recordFreshKey(image, path, attempt);
        return false;
    }

    if (code == SecureConnectionFailed) {
        // Nothing left this computer, so the key stays free: the file waits and the store is tried again after
        // the back-off.
        logOnce(path, QStringLiteral("no secure connection to the object store, kept for a later attempt"));
        failed(image.name, QStringLiteral("无法建立安全连接"));
        setLink(QueueState::Link::SecureLinkFailed);
        changed();
        backOff();
        return false;
    }

    attempt.foreignAgain = false;
    // Whatever the answer, the store may hold this key from now on (a reply lost after the object was written).
    attempt.mayBeStored = true;

    // Gone while it was being sent: the next pass lists the folder afresh.
    if (!QFileInfo::exists(path)) {
        *outcome = Outcome::LeavePass;
        return true;
    }
    return judgeFailure(code, path, image, attempt, outcome);
}

bool UploadLoop::judgeFailure(int code, const QString& path, const UploadLedger::Identity& image, Attempt& attempt,
                              Outcome* outcome)
{
    if (code == TokenRefused) {
        failed(image.name, QStringLiteral("上传授权被拒绝"));
        // Refused again right after a fresh token: the service is not helping, do not hammer the store.
        if (attempt.refreshedAfterRefusal) {
            setLink(QueueState::Link::TokenRefused);
            backOff();
        }
        if (!m_service.getUploadToken())
            setLink(QueueState::Link::ServiceUnreachable);
        attempt.refreshedAfterRefusal = true;
        return false;
    }

    *outcome = Outcome::Skipped;
    if (code == FileUnreadable) {
        // Locked since the look above: the store is not to blame, so no back-off. The file waits for a later
        // pass and the files behind it go on.
        failed(image.name, QStringLiteral("文件无法读取"));
        changed();
        return true;
    }

    // The store will not take this file (too large, refused by the upload policy): sending it again changes
    // nothing, and the files behind it go on.
    if (isRefusal(code)) {
        failed(image.name, QStringLiteral("存储服务拒收（HTTP %1）").arg(code));
        refuse(path, image, QStringLiteral("存储服务拒收（HTTP %1）").arg(code));
        return true;
    }

    failed(image.name, code == Unconfirmed ? QStringLiteral("存储服务应答异常")
                       : code == NotStored ? QStringLiteral("无法连接存储服务")
                                           : QStringLiteral("存储服务出错（代码 %1）").arg(code));
    setLink(QueueState::Link::StoreUnreachable);
    changed();

    attempt.refreshedAfterRefusal = false;
    // A failure of this file alone must not hold up the others for ever.
    if (++attempt.failures >= m_intervals.failuresBeforeMovingOn) {
        logLine(QStringLiteral("%1 failed uploads in a row (last answer %2), the next files go first: %3")
                    .arg(attempt.failures)
                    .arg(code)
                    .arg(path));
        holdBack(signature(image), m_intervals.backoffMaxMs);
        return true;
    }
    backOff();
    return false;
}

UploadLoop::Outcome UploadLoop::announceAndDelete(const QString& path, const UploadLedger::Identity& image,
                                                  const QString& key)
{
    // Until the service took the announcement the file stays: a later pass announces the same key again, without
    // sending the file again. The files behind it go on meanwhile.
    const Announcement announcement = m_service.announce(m_folders.taskId(), key);
    switch (announcement.outcome) {
    case Announcement::Taken:
        announcementTaken(path, image);
        return Outcome::Done;
    case Announcement::Failed:
        announcementFailed(image);
        break;
    case Announcement::Unanswered:
        announcementUnanswered(image, key);
        break;
    case Announcement::Refused:
        announcementRefused(path, image, key, announcement.reason);
        break;
    }
    return Outcome::Skipped;
}

void UploadLoop::announcementTaken(const QString& path, const UploadLedger::Identity& image)
{
    m_backoffMs = 0;
    m_ledger.markAnnounced(image);
    succeeded();
    m_doneThisPass.insert(image.name);
    m_runtime.attempts.remove(image.name);
    m_runtime.reasons.remove(image.name);
    removeAnnounced(path, image);
    changed();
}

void UploadLoop::announcementFailed(const UploadLedger::Identity& image)
{
    failed(image.name, QStringLiteral("服务未确认接收"));
    setLink(QueueState::Link::ServiceUnreachable);
    changed();
    backOff();
}

void UploadLoop::announcementUnanswered(const UploadLedger::Identity& image, const QString& key)
{
    // It may have been taken: repeated with the same key, but at a pace a slow service can follow.
    const int attempts = m_ledger.countAttempt(image);
    const qint64 wait = std::min<qint64>(qint64(m_intervals.unansweredRepeatMs) << std::min(attempts - 1, 20),
                                         m_intervals.unansweredRepeatMaxMs);
    logLine(QStringLiteral("announcement %1 of %2 went unanswered, repeated in %3 s")
                .arg(attempts)
                .arg(key)
                .arg(wait / 1000));
    holdBack(signature(image), wait);
    failed(image.name, QStringLiteral("服务未应答"));
    changed();
}

void UploadLoop::announcementRefused(const QString& path, const UploadLedger::Identity& image, const QString& key,
                                     const QString& reason)
{
    const int attempts = m_ledger.countAttempt(image);
    const QString shown = reason.isEmpty() ? QStringLiteral("服务拒收") : reason;
    failed(image.name, shown);
    if (attempts >= m_intervals.announceRefusalsAllowed) {
        refuse(path, image, shown);
        return;
    }
    logLine(QStringLiteral("announcement %1 of %2 refused (%3), tried again later").arg(attempts).arg(key, reason));
    holdBack(signature(image), m_intervals.refusedAnnounceRetryMs);
    changed();
}

bool UploadLoop::removeAnnounced(const QString& path, const UploadLedger::Identity& image)
{
    const QString sig = signature(image);
    if (m_removeFile(path) || !QFileInfo::exists(path)) {
        m_undeleted.remove(sig);
        m_ledger.markDeleted(image);
        return true;
    }
    // Announced already: it is only ever deleted, tried again after a while.
    logOnce(path, QStringLiteral("announced image cannot be deleted"));
    m_undeleted.insert(sig, m_clock.currentMSecsSinceEpoch() + m_intervals.deleteRetryMs);
    return false;
}

void UploadLoop::holdBack(const QString& sig, qint64 ms)
{
    m_heldBack.insert(sig, m_clock.currentMSecsSinceEpoch() + ms);
}

void UploadLoop::refuse(const QString& path, const UploadLedger::Identity& image, const QString& reason)
{
    m_ledger.markRefused(image, reason);
    m_refusedThisRun.insert(signature(image));
    logLine(QStringLiteral("refused, kept in the folder and not sent again in this run (%1): %2").arg(reason, path));
    changed();
}

void UploadLoop::backOff()
{
    m_backoffMs = m_backoffMs == 0 ? m_intervals.backoffInitialMs
                                   : std::min(m_backoffMs * 2, std::max(m_intervals.backoffMaxMs, 1));
    if (keepGoing())
        m_sleeper.sleep(m_backoffMs);
}
