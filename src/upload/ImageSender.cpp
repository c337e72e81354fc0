#include "upload/ImageSender.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>

#include "core/AppLog.h"
#include "core/Clock.h"
#include "upload/PassImage.h"
#include "upload/UploadInterfaces.h"
#include "upload/UploadLoopState.h"

namespace {

// The store's refusals that sending again will not heal: a 4xx other than a refused token.
bool isRefusal(int code)
{
    return code >= 400 && code < 500 && code != Uploader::TokenRefused;
}

void logLine(const QString& text)
{
    AppLog::write(QStringLiteral("upload: ") + text);
}

} // namespace

ImageSender::ImageSender(UploadService& service, Uploader& uploader, const Clock& clock, Sleeper& sleeper,
                         UploadLedger& ledger, UploadLoopState& state, const UploadIntervals& intervals,
                         const QString& uid, const QString& taskId)
    : m_service(service), m_uploader(uploader), m_clock(clock), m_sleeper(sleeper), m_ledger(ledger), m_state(state),
      m_intervals(intervals), m_uid(uid), m_taskId(taskId),
      m_removeFile([](const QString& path) { return QFile::remove(path); })
{
}

void ImageSender::setKeepGoing(std::function<bool()> keepGoing)
{
    m_keepGoing = std::move(keepGoing);
}

void ImageSender::setRemoveFile(std::function<bool(const QString&)> removeFile)
{
    m_removeFile = std::move(removeFile);
}

bool ImageSender::keepGoing() const
{
    return !m_keepGoing || m_keepGoing();
}

QString ImageSender::objectKey(const QString& uid, const QString& taskId, qint64 ms, const QString& fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : fileName.mid(dot + 1);
    return QStringLiteral("paper/origin/") + uid + QLatin1Char('/') + taskId + QLatin1Char('/') + QString::number(ms) +
           QLatin1Char('.') + extension;
}

void ImageSender::logOnce(const QString& path, const QString& text)
{
    const QString entry = path + QLatin1Char('\n') + text;
    if (m_logged.contains(entry))
        return;
    m_logged.insert(entry);
    AppLog::write(QStringLiteral("upload: ") + text + QStringLiteral(": ") + path);
}

ImageSender::Outcome ImageSender::send(PassImage& image, const UploadLedger::Entry& entry)
{
    // The key is recorded before the first byte leaves, so that after a crash the same file goes again under the
    // same key. A file known as sent may already be in the store under its key: a 614 then proves it is ours.
    Attempt attempt;
    attempt.mayBeStored = entry.state == UploadLedger::State::Sent && !entry.key.isEmpty();
    if (attempt.mayBeStored)
        image.key = entry.key;
    else
        recordFreshKey(image);
    // The pass has just looked at the file; an attempt after a failure looks again, time has gone by.
    bool looked = true;
    while (keepGoing()) {
        if (!looked) {
            const QFileInfo now(image.path());
            if (!now.exists() || !now.isReadable())
                return Outcome::LeavePass;
            // Changed since it was listed: it is another image now, judged afresh by the next pass.
            if (!image.matches(now))
                return Outcome::Skipped;
        }
        looked = false;

        m_state.setInFlight(image.name());
        m_state.changed();
        const int code = m_uploader.putFile(m_service.uploadToken(), image.key, image.path());
        m_state.setInFlight(QString());

        Outcome outcome = Outcome::LeavePass;
        if (judgePut(code, image, attempt, &outcome))
            return outcome;
    }
    return Outcome::LeavePass;
}

// The digest, read once with the image's bytes, tells this sheet from a later file of the same name, size and time.
void ImageSender::recordFreshKey(PassImage& image)
{
    const qint64 ms = nextKeyMs();
    image.key = objectKey(m_uid, m_taskId, ms, image.name());
    m_ledger.recordSending(image.identity(), image.key, ms, image.digest());
}

bool ImageSender::judgePut(int code, PassImage& image, Attempt& attempt, Outcome* outcome)
{
    if (code == Uploader::Stored || (code == Uploader::AlreadyStored && attempt.mayBeStored)) {
        // Written to while it was sent: what the store holds may be incomplete. Neither announce nor delete;
        // the file is judged again as the new image it now is.
        if (!image.isUnchanged()) {
            *outcome = Outcome::Skipped;
            return true;
        }
        m_ledger.markStored(image.identity());
        m_state.storeTook(m_clock.currentMSecsSinceEpoch());
        *outcome = announceAndDelete(image, image.key);
        return true;
    }

    if (code == Uploader::AlreadyStored) {
        // Another object already has this key (a clock set back, another copy of the program): ours was not
        // stored. Send again under a fresh key, pausing only if that happens twice in a row.
        logOnce(image.path(), QStringLiteral("key %1 taken by another object, sent under a fresh key").arg(image.key));
        if (attempt.foreignAgain)
            backOff();
        attempt.foreignAgain = true;
        recordFreshKey(image);
        return false;
    }

    if (code == Uploader::SecureConnectionFailed) {
        // Nothing left this computer, so the key stays free: the file waits and the store is tried again after
        // the back-off.
        logOnce(image.path(), QStringLiteral("no secure connection to the object store, kept for a later attempt"));
        m_state.failed(image.name(), QStringLiteral("无法建立安全连接"));
        m_state.setStoreLink(QueueState::Link::SecureLinkFailed);
        m_state.changed();
        backOff();
        return false;
    }

    attempt.foreignAgain = false;
    // Whatever the answer, the store may hold this key from now on (a reply lost after the object was written).
    attempt.mayBeStored = true;

    // Gone while it was being sent: the next pass lists the folder afresh.
    if (!QFileInfo::exists(image.path())) {
        *outcome = Outcome::LeavePass;
        return true;
    }
    return judgeFailure(code, image, attempt, outcome);
}

bool ImageSender::judgeFailure(int code, const PassImage& image, Attempt& attempt, Outcome* outcome)
{
    if (code == Uploader::TokenRefused) {
        m_state.failed(image.name(), QStringLiteral("上传授权被拒绝"));
        // Refused again right after a fresh token: the service is not helping, do not hammer the store.
        if (attempt.refreshedAfterRefusal) {
            m_state.setStoreLink(QueueState::Link::TokenRefused);
            backOff();
        }
        m_state.setServiceLink(m_service.getUploadToken() ? QueueState::Link::Ok
                                                          : QueueState::Link::ServiceUnreachable);
        attempt.refreshedAfterRefusal = true;
        return false;
    }

    *outcome = Outcome::Skipped;
    if (code == Uploader::FileUnreadable) {
        // Locked since the look above: the store is not to blame, so no back-off. The file waits for a later
        // pass and the files behind it go on.
        m_state.failed(image.name(), QStringLiteral("文件无法读取"));
        m_state.changed();
        return true;
    }

    // The store will not take this file (too large, refused by the upload policy): sending it again changes
    // nothing, and the files behind it go on.
    if (isRefusal(code)) {
        const QString reason = QStringLiteral("存储服务拒收（HTTP %1）").arg(code);
        // The store answered: it is there, only this file is not welcome.
        m_state.setStoreLink(QueueState::Link::Ok);
        m_state.failed(image.name(), reason);
        refuse(image, reason);
        return true;
    }

    m_state.failed(image.name(), code == Uploader::Unconfirmed ? QStringLiteral("存储服务应答异常")
                                 : code == Uploader::NotStored ? QStringLiteral("无法连接存储服务")
                                                               : QStringLiteral("存储服务出错（代码 %1）").arg(code));
    m_state.setStoreLink(QueueState::Link::StoreUnreachable);
    m_state.changed();

    attempt.refreshedAfterRefusal = false;
    // A failure of this file alone must not hold up the others for ever.
    if (++attempt.failures >= m_intervals.failuresBeforeMovingOn) {
        logLine(QStringLiteral("%1 failed uploads in a row (last answer %2), the next files go first: %3")
                    .arg(attempt.failures)
                    .arg(code)
                    .arg(image.path()));
        holdBack(image.signature(), m_intervals.backoffMaxMs);
        return true;
    }
    backOff();
    return false;
}

ImageSender::Outcome ImageSender::announceAndDelete(PassImage& image, const QString& key)
{
    // Until the service took the announcement the file stays: a later pass announces the same key again, without
    // sending the file again. The files behind it go on meanwhile.
    const UploadService::Announcement announcement = m_service.announce(m_taskId, key);
    switch (announcement.outcome) {
    case UploadService::Announcement::Taken:
        announcementTaken(image);
        return Outcome::Done;
    case UploadService::Announcement::Failed:
        announcementFailed(image);
        break;
    case UploadService::Announcement::Unanswered:
        announcementUnanswered(image, key);
        break;
    case UploadService::Announcement::Refused:
        announcementRefused(image, key, announcement.reason);
        break;
    }
    return Outcome::Skipped;
}

void ImageSender::announcementTaken(const PassImage& image)
{
    m_backoffMs = 0;
    m_ledger.markAnnounced(image.identity());
    m_state.serviceTook(m_clock.currentMSecsSinceEpoch());
    m_state.done(image.name());
    m_state.forget(image.name());
    removeAnnounced(image);
    m_state.changed();
}

void ImageSender::announcementFailed(const PassImage& image)
{
    m_state.failed(image.name(), QStringLiteral("服务未确认接收"));
    m_state.setServiceLink(QueueState::Link::ServiceUnreachable);
    m_state.changed();
    backOff();
}

void ImageSender::announcementUnanswered(const PassImage& image, const QString& key)
{
    // It may have been taken: repeated with the same key, but at a pace a slow service can follow. Counted apart
    // from refusals: a service that does not answer has not said no.
    const int attempts = m_ledger.countAttempt(image.identity());
    const qint64 wait = std::min<qint64>(qint64(m_intervals.unansweredRepeatMs) << std::min(attempts - 1, 20),
                                         m_intervals.unansweredRepeatMaxMs);
    logLine(QStringLiteral("announcement %1 of %2 went unanswered, repeated in %3 s")
                .arg(attempts)
                .arg(key)
                .arg(wait / 1000));
    holdBack(image.signature(), wait);
    m_state.failed(image.name(), QStringLiteral("服务未应答"));
    m_state.changed();
}

void ImageSender::announcementRefused(const PassImage& image, const QString& key, const QString& reason)
{
    // The service answered: it is there.
    m_state.setServiceLink(QueueState::Link::Ok);
    const int attempts = m_ledger.countRefusal(image.identity());
    const QString shown = reason.isEmpty() ? QStringLiteral("服务拒收") : reason;
    m_state.failed(image.name(), shown);
    if (attempts >= m_intervals.announceRefusalsAllowed) {
        refuse(image, shown);
        return;
    }
    logLine(QStringLiteral("announcement %1 of %2 refused (%3), tried again later").arg(attempts).arg(key, reason));
    holdBack(image.signature(), m_intervals.refusedAnnounceRetryMs);
    m_state.changed();
}

bool ImageSender::removeAnnounced(const PassImage& image)
{
    const bool listingCurrent = !m_state.folderChangedSinceListing();
    if (m_removeFile(image.path()) || !QFileInfo::exists(image.path())) {
        m_state.ownChange(listingCurrent);
        m_undeleted.remove(image.signature());
        m_ledger.markDeleted(image.identity());
        return true;
    }
    // Announced already: it is only ever deleted, tried again after a while.
    logOnce(image.path(), QStringLiteral("announced image cannot be deleted"));
    m_undeleted.insert(image.signature(), m_clock.monotonicMSecs() + m_intervals.deleteRetryMs);
    return false;
}

void ImageSender::refuse(const PassImage& image, const QString& reason)
{
    m_ledger.markRefused(image.identity(), reason);
    m_refusedThisRun.insert(image.signature());
    logLine(QStringLiteral("refused, kept in the folder and not sent again in this run (%1): %2")
                .arg(reason, image.path()));
    m_state.changed();
}

bool ImageSender::leftAloneThisPass(const PassImage& image, qint64* waitMs)
{
    // Announced and not deletable (a read-only folder): tried again now and then, without asking the ledger,
    // so that a folder full of them costs next to nothing per pass.
    const auto undeleted = m_undeleted.constFind(image.signature());
    if (undeleted != m_undeleted.constEnd()) {
        if (m_clock.monotonicMSecs() >= undeleted.value() && removeAnnounced(image))
            m_state.done(image.name());
        return true;
    }
    // Waiting for its own next attempt.
    const auto heldBack = m_heldBack.constFind(image.signature());
    if (heldBack != m_heldBack.constEnd()) {
        const qint64 wait = heldBack.value() - m_clock.monotonicMSecs();
        if (wait > 0) {
            *waitMs = wait;
            return true;
        }
        m_heldBack.remove(image.signature());
    }
    return m_refusedThisRun.contains(image.signature());
}

void ImageSender::forgetRefusal(const UploadLedger::Identity& image)
{
    const QString signature = UploadLedger::signatureOf(image);
    m_ledger.clearRefusal(image);
    m_refusedThisRun.remove(signature);
    m_heldBack.remove(signature);
}

void ImageSender::forgetGone(const QSet<QString>& listed)
{
    for (auto it = m_refusedThisRun.begin(); it != m_refusedThisRun.end();)
        it = listed.contains(*it) ? std::next(it) : m_refusedThisRun.erase(it);
    for (QHash<QString, qint64>* seen : {&m_undeleted, &m_heldBack}) {
        for (auto it = seen->begin(); it != seen->end();)
            it = listed.contains(it.key()) ? std::next(it) : seen->erase(it);
    }
}

qint64 ImageSender::nextKeyMs()
{
    // Seeded from the ledger, so that a clock set back between two runs does not reuse an earlier run's key.
    if (m_lastKeyMs < 0)
        m_lastKeyMs = m_ledger.highestKeyMs();
    m_lastKeyMs = std::max(m_clock.currentMSecsSinceEpoch(), m_lastKeyMs + 1);
    return m_lastKeyMs;
}

void ImageSender::holdBack(const QString& signature, qint64 ms)
{
    // On the monotonic clock: a clock set back by an hour must not hold an image back for an hour.
    m_heldBack.insert(signature, m_clock.monotonicMSecs() + ms);
}

void ImageSender::backOff()
{
    m_backoffMs = m_backoffMs == 0 ? m_intervals.backoffInitialMs
                                   : std::min(m_backoffMs * 2, std::max(m_intervals.backoffMaxMs, 1));
    if (keepGoing())
        m_sleeper.sleep(m_backoffMs);
}
