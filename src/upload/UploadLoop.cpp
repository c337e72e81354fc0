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

namespace {

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

} // namespace

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

UploadLoop::UploadLoop(Service& service, Uploader& uploader, Clock& clock, Sleeper& sleeper, UploadLedger& ledger,
                       const QString& uid, const QString& taskId)
    : UploadLoop(service, uploader, clock, sleeper, ledger, uid, taskId, Intervals())
{
}

UploadLoop::UploadLoop(Service& service, Uploader& uploader, Clock& clock, Sleeper& sleeper, UploadLedger& ledger,
                       const QString& uid, const QString& taskId, const Intervals& intervals)
    : m_service(service), m_uploader(uploader), m_clock(clock), m_sleeper(sleeper), m_ledger(ledger), m_uid(uid),
      m_taskId(taskId), m_intervals(intervals), m_removeFile([](const QString& path) { return QFile::remove(path); })
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
    if (m_taskId.isEmpty())
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
    if (!m_uid.isEmpty() && m_ledger.owner() != m_uid)
        m_ledger.setOwner(m_uid);
}

QStringList UploadLoop::otherTasksOf(const QString& uid, const QString& ownTaskId)
{
    QStringList tasks;
    if (uid.isEmpty())
        return tasks;
    const QDir images(QDir::currentPath() + QStringLiteral("/image/"));
    for (const QString& task : images.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (task == ownTaskId || UploadFolder::listImages(images.filePath(task)).isEmpty())
            continue;
        // Only a database that is there already: looking must not create one for a folder nobody queued.
        if (!QFileInfo::exists(TaskDatabase::pathForTask(task)))
            continue;
        UploadLedger ledger;
        if (ledger.open(TaskDatabase::pathForTask(task)) && ledger.owner() == uid)
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
        if (!m_taskId.isEmpty())
            setListing(UploadFolder::listImages(folder()));
        // A refused certificate is no outage: only the school's network or the computer's authorities mend it.
        setLink(SecureTransport::isFailing(Settings::apiHost()) ? QueueState::Link::SecureLinkFailed
                                                                : QueueState::Link::ServiceUnreachable);
        changed();
        m_sleeper.sleep(m_intervals.credentialsRetryMs);
    }
    return false;
}

void UploadLoop::setOnChange(std::function<void()> onChange)
{
    m_onChange = std::move(onChange);
}

void UploadLoop::setTakeRetries(std::function<QStringList()> takeRetries)
{
    m_takeRetries = std::move(takeRetries);
}

void UploadLoop::changed()
{
    if (m_onChange)
        m_onChange();
}

void UploadLoop::gather(QueueState& state) const
{
    if (m_taskId.isEmpty())
        return;
    if (m_doneThisPass.isEmpty()) {
        state.addTask(m_taskId, m_listing, m_ledger, m_runtime);
        return;
    }
    QList<QueueState::Image> left;
    left.reserve(m_listing.size());
    for (const QueueState::Image& image : m_listing) {
        if (!m_doneThisPass.contains(image.name))
            left << image;
    }
    state.addTask(m_taskId, left, m_ledger, m_runtime);
}

QueueState UploadLoop::queueStateOf(const QList<const UploadLoop*>& loops)
{
    QueueState state;
    state.published = true;
    for (const UploadLoop* loop : loops) {
        loop->gather(state);
        if (loop->link() != QueueState::Link::Ok)
            state.link = loop->link();
        state.lastSuccessMs = std::max(state.lastSuccessMs, loop->lastSuccessMs());
    }
    return state;
}

void UploadLoop::setListing(const QFileInfoList& entries)
{
    m_listing.clear();
    m_listing.reserve(entries.size());
    for (const QFileInfo& info : entries)
        m_listing << QueueState::listed(m_taskId, info);
    m_doneThisPass.clear();
}

QueueState::Link UploadLoop::link() const
{
    return m_link;
}

qint64 UploadLoop::lastSuccessMs() const
{
    return m_lastSuccessMs;
}

void UploadLoop::setLink(QueueState::Link link)
{
    if (m_link == link)
        return;
    m_link = link;
    changed();
}

void UploadLoop::succeeded()
{
    m_lastSuccessMs = m_clock.currentMSecsSinceEpoch();
    m_link = QueueState::Link::Ok;
}

void UploadLoop::failed(const QString& name, const QString& reason)
{
    m_runtime.attempts[name] += 1;
    m_runtime.reasons.insert(name, reason);
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
    return folderFor(m_taskId);
}

QString UploadLoop::folderFor(const QString& taskId)
{
    return QDir::currentPath() + QStringLiteral("/image/") + taskId + QLatin1Char('/');
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

int UploadLoop::waitingImages(const QString& folder, const UploadLedger& ledger)
{
    return queueStateOfFolder(QString(), folder, ledger).pending();
}

QueueState UploadLoop::queueStateOfFolder(const QString& taskId, const QString& folder, const UploadLedger& ledger)
{
    QList<QueueState::Image> listing;
    for (const QFileInfo& info : UploadFolder::listImages(folder))
        listing << QueueState::listed(taskId, info);
    QueueState state;
    state.addTask(taskId, listing, ledger, QueueState::Runtime());
    // A look from outside: nothing was said by a worker.
    state.published = false;
    return state;
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

int UploadLoop::runPass()
{
    if (m_taskId.isEmpty()) {
        m_nextPassDelayMs = m_intervals.idlePauseMs;
        return 0;
    }
    const QString path = folder();
    if (!QDir(path).exists())
        QDir().mkdir(path);

    if (m_takeRetries) {
        for (const QString& name : m_takeRetries())
            retry(name);
    }

    const QFileInfoList entries = UploadFolder::listImages(path);
    setListing(entries);
    changed();

    int announced = 0;
    qint64 soonestSettle = -1;
    QSet<QString> listed;
    for (const QFileInfo& entry : entries) {
        if (!keepGoing())
            break;
        // Fresh look: the listing may be old by now.
        const QFileInfo info(entry.absoluteFilePath());
        if (!info.exists() || !info.isReadable())
            break; // gone or locked since the listing: the next pass lists the folder afresh
        // Replaced by a link since the listing: never follow it out of the folder.
        if (info.isSymLink() || !info.isFile())
            continue;
        if (info.size() == 0) {
            logOnce(info.absoluteFilePath(), QStringLiteral("empty file left in place"));
            continue;
        }
        const UploadLedger::Identity image = identityOf(info);
        const QString sig = signature(image);
        listed.insert(sig);
        // Announced and not deletable (a read-only folder): tried again now and then, without asking the ledger,
        // so that a folder full of them costs next to nothing per pass.
        const auto undeleted = m_undeleted.constFind(sig);
        if (undeleted != m_undeleted.constEnd()) {
            if (m_clock.currentMSecsSinceEpoch() >= undeleted.value() &&
                removeAnnounced(info.absoluteFilePath(), image))
                m_doneThisPass.insert(image.name);
            continue;
        }
        // Waiting for its own next attempt.
        const auto heldBack = m_heldBack.constFind(sig);
        if (heldBack != m_heldBack.constEnd()) {
            const qint64 wait = heldBack.value() - m_clock.currentMSecsSinceEpoch();
            if (wait > 0) {
                soonestSettle = soonestSettle < 0 ? wait : std::min(soonestSettle, wait);
                continue;
            }
            m_heldBack.remove(sig);
        }
        if (m_refusedThisRun.contains(sig))
            continue;

        UploadLedger::Entry known = m_ledger.find(image);
        // Its earlier copy was announced and deleted: this one is another sheet under the same name.
        if (known.state == UploadLedger::State::Deleted)
            known = UploadLedger::Entry();
        // Same name, size and time as a recorded image, other bytes: another sheet, never announced or deleted
        // for the one recorded.
        if (known.state != UploadLedger::State::Unknown && !known.digest.isEmpty() &&
            UploadLedger::digestOf(info.absoluteFilePath()) != known.digest) {
            logOnce(info.absoluteFilePath(), QStringLiteral("other bytes than the image recorded, sent as a new one"));
            known = UploadLedger::Entry();
        }
        // Refused in an earlier run: tried once more in this one.
        if (!known.refusedReason.isEmpty()) {
            logLine(QStringLiteral("refused earlier (%1), tried again: %2")
                        .arg(known.refusedReason, info.absoluteFilePath()));
            m_ledger.clearRefusal(image);
            known.refusedReason.clear();
        }
        // No JPEG, PNG or BMP at all: nothing the service could read, refused before anything is sent.
        if (known.state == UploadLedger::State::Unknown && !UploadFolder::mayBeImage(info.absoluteFilePath())) {
            refuse(info.absoluteFilePath(), image, notAnImageReason());
            continue;
        }

        if (known.state == UploadLedger::State::Announced) {
            if (removeAnnounced(info.absoluteFilePath(), image))
                m_doneThisPass.insert(image.name);
            continue;
        }
        if (known.state == UploadLedger::State::Stored) {
            if (announceAndDelete(info.absoluteFilePath(), image, known.key) == Outcome::Done)
                ++announced;
            continue;
        }

        // Not sent yet: a whole image goes at once; one that is not whole may still be being written by a producer
        // that does not use the atomic hand-over, so it waits until it has been left alone for a while.
        if (known.state == UploadLedger::State::Unknown && !UploadFolder::isWholeImage(info.absoluteFilePath())) {
            const qint64 now = m_clock.currentMSecsSinceEpoch();
            const qint64 age = now - image.modifiedMs;
            qint64 wait = 0;
            if (age < 0) {
                // Time stamp in the future (clock skew, a copy that kept its time): settle on our own clock.
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
            logOnce(info.absoluteFilePath(),
                    QStringLiteral("not a whole image, sent as it is after staying unchanged"));
        }

        const Outcome outcome = uploadOne(info, image, known);
        if (outcome == Outcome::Done)
            ++announced;
        else if (outcome == Outcome::LeavePass)
            break;
    }

    for (auto it = m_refusedThisRun.begin(); it != m_refusedThisRun.end();) {
        if (listed.contains(*it))
            ++it;
        else
            it = m_refusedThisRun.erase(it);
    }
    for (QHash<QString, qint64>* seen : {&m_firstSeen, &m_undeleted, &m_heldBack}) {
        for (auto it = seen->begin(); it != seen->end();) {
            if (listed.contains(it.key()))
                ++it;
            else
                it = seen->erase(it);
        }
    }

    // What the worker remembers of files no longer in the folder goes with them: one of the same name coming back
    // is tried afresh.
    QSet<QString> present;
    for (const QFileInfo& entry : entries)
        present.insert(entry.fileName());
    for (auto it = m_runtime.reasons.begin(); it != m_runtime.reasons.end();)
        it = present.contains(it.key()) ? std::next(it) : m_runtime.reasons.erase(it);
    for (auto it = m_runtime.attempts.begin(); it != m_runtime.attempts.end();)
        it = present.contains(it.key()) ? std::next(it) : m_runtime.attempts.erase(it);
    changed();

    if (announced > 0)
        m_nextPassDelayMs = 0;
    else {
        const int pause = entries.isEmpty() ? m_intervals.idlePauseMs : m_intervals.waitingPauseMs;
        m_nextPassDelayMs = soonestSettle > 0 ? static_cast<int>(std::min<qint64>(soonestSettle, pause)) : pause;
    }
    return announced;
}

UploadLoop::Outcome UploadLoop::uploadOne(const QFileInfo& info, const UploadLedger::Identity& image,
                                          UploadLedger::Entry entry)
{
    const QString path = info.absoluteFilePath();
    // The key is recorded before the first byte leaves, so that after a crash the same file goes again under the
    // same key. A file known as sent may already be in the store under its key: a 614 then proves it is ours.
    // The digest is taken once, when the first key is recorded: it tells this sheet from a later file of the same
    // name, size and time.
    QString digest;
    const auto recordFreshKey = [this, &image, &digest, &path] {
        if (digest.isEmpty())
            digest = UploadLedger::digestOf(path);
        const qint64 ms = nextKeyMs();
        const QString fresh = objectKey(m_uid, m_taskId, ms, image.name);
        m_ledger.recordSending(image, fresh, ms, digest);
        return fresh;
    };
    bool mayBeStored = entry.state == UploadLedger::State::Sent && !entry.key.isEmpty();
    QString key = mayBeStored ? entry.key : recordFreshKey();

    bool refreshedAfterRefusal = false;
    bool foreignAgain = false;
    int failures = 0;
    while (keepGoing()) {
        const QFileInfo before(path);
        if (!before.exists() || !before.isReadable())
            return Outcome::LeavePass;
        // Changed since it was listed: it is another image now, judged afresh by the next pass.
        if (!isUnchanged(path, image))
            return Outcome::Skipped;

        m_runtime.inFlight = image.name;
        changed();
        const int code = m_uploader.putFile(m_service.uploadToken(), key, path);
        m_runtime.inFlight.clear();

        if (code == Stored || (code == AlreadyStored && mayBeStored)) {
            // Written to while it was sent: what the store holds may be incomplete. Neither announce nor delete;
            // the file is judged again as the new image it now is.
            if (!isUnchanged(path, image))
                return Outcome::Skipped;
            m_ledger.markStored(image);
            succeeded();
            return announceAndDelete(path, image, key);
        }

        if (code == AlreadyStored) {
            // Another object already has this key (a clock set back, another copy of the program): ours was not
            // stored. Send again under a fresh key, pausing only if that happens twice in a row.
            logOnce(path, QStringLiteral("key %1 taken by another object, sent under a fresh key").arg(key));
            if (foreignAgain)
                backOff();
            foreignAgain = true;
            key = recordFreshKey();
            continue;
        }

        if (code == SecureConnectionFailed) {
            // Nothing left this computer, so the key stays free: the file waits and the store is tried again after
            // the back-off.
            logOnce(path, QStringLiteral("no secure connection to the object store, kept for a later attempt"));
            failed(image.name, QStringLiteral("无法建立安全连接"));
            setLink(QueueState::Link::SecureLinkFailed);
            changed();
            backOff();
            continue;
        }

        foreignAgain = false;
        // Whatever the answer, the store may hold this key from now on (a reply lost after the object was written).
        mayBeStored = true;

        // Gone while it was being sent: the next pass lists the folder afresh.
        if (!QFileInfo::exists(path))
            return Outcome::LeavePass;

        if (code == TokenRefused) {
            failed(image.name, QStringLiteral("上传授权被拒绝"));
            // Refused again right after a fresh token: the service is not helping, do not hammer the store.
            if (refreshedAfterRefusal) {
                setLink(QueueState::Link::TokenRefused);
                backOff();
            }
            if (!m_service.getUploadToken())
                setLink(QueueState::Link::ServiceUnreachable);
            refreshedAfterRefusal = true;
            continue;
        }

        if (code == FileUnreadable) {
            // Locked since the look above: the store is not to blame, so no back-off. The file waits for a later
            // pass and the files behind it go on.
            failed(image.name, QStringLiteral("文件无法读取"));
            changed();
            return Outcome::Skipped;
        }

        // The store will not take this file (too large, refused by the upload policy): sending it again changes
        // nothing, and the files behind it go on.
        if (isRefusal(code)) {
            failed(image.name, QStringLiteral("存储服务拒收（HTTP %1）").arg(code));
            refuse(path, image, QStringLiteral("存储服务拒收（HTTP %1）").arg(code));
            return Outcome::Skipped;
        }

        failed(image.name, code == Unconfirmed ? QStringLiteral("存储服务应答异常")
                           : code == NotStored ? QStringLiteral("无法连接存储服务")
                                               : QStringLiteral("存储服务出错（代码 %1）").arg(code));
        setLink(QueueState::Link::StoreUnreachable);
        changed();

        refreshedAfterRefusal = false;
        // A failure of this file alone must not hold up the others for ever.
        if (++failures >= m_intervals.failuresBeforeMovingOn) {
            logLine(QStringLiteral("%1 failed uploads in a row (last answer %2), the next files go first: %3")
                        .arg(failures)
                        .arg(code)
                        .arg(path));
            holdBack(signature(image), m_intervals.backoffMaxMs);
            return Outcome::Skipped;
        }
        backOff();
    }
    return Outcome::LeavePass;
}

UploadLoop::Outcome UploadLoop::announceAndDelete(const QString& path, const UploadLedger::Identity& image,
                                                  const QString& key)
{
    // Until the service took the announcement the file stays: a later pass announces the same key again, without
    // sending the file again. The files behind it go on meanwhile.
    const Announcement announcement = m_service.announce(m_taskId, key);
    const QString sig = signature(image);
    switch (announcement.outcome) {
    case Announcement::Taken:
        break;
    case Announcement::Failed:
        failed(image.name, QStringLiteral("服务未确认接收"));
        setLink(QueueState::Link::ServiceUnreachable);
        changed();
        backOff();
        return Outcome::Skipped;
    case Announcement::Unanswered: {
        // It may have been taken: repeated with the same key, but at a pace a slow service can follow.
        const int attempts = m_ledger.countAttempt(image);
        const qint64 wait = std::min<qint64>(qint64(m_intervals.unansweredRepeatMs) << std::min(attempts - 1, 20),
                                             m_intervals.unansweredRepeatMaxMs);
        logLine(QStringLiteral("announcement %1 of %2 went unanswered, repeated in %3 s")
                    .arg(attempts)
                    .arg(key)
                    .arg(wait / 1000));
        holdBack(sig, wait);
        failed(image.name, QStringLiteral("服务未应答"));
        changed();
        return Outcome::Skipped;
    }
    case Announcement::Refused: {
        const int attempts = m_ledger.countAttempt(image);
        failed(image.name, announcement.reason.isEmpty() ? QStringLiteral("服务拒收") : announcement.reason);
        if (attempts >= m_intervals.announceRefusalsAllowed) {
            refuse(path, image, announcement.reason.isEmpty() ? QStringLiteral("服务拒收") : announcement.reason);
            return Outcome::Skipped;
        }
        logLine(QStringLiteral("announcement %1 of %2 refused (%3), tried again later")
                    .arg(attempts)
                    .arg(key, announcement.reason));
        holdBack(sig, m_intervals.refusedAnnounceRetryMs);
        changed();
        return Outcome::Skipped;
    }
    }
    m_backoffMs = 0;
    m_ledger.markAnnounced(image);
    succeeded();
    m_doneThisPass.insert(image.name);
    m_runtime.attempts.remove(image.name);
    m_runtime.reasons.remove(image.name);
    removeAnnounced(path, image);
    changed();
    return Outcome::Done;
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
