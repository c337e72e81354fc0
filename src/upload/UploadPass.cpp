#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "core/AppLog.h"
#include "upload/PassImage.h"
#include "upload/UploadFolder.h"
#include "upload/UploadLoop.h"

// One pass over the task's folder, as a short list of steps: the folder listed, each image taken as far as it can
// go, what is gone forgotten, the pause before the next pass chosen.
int UploadLoop::runPass()
{
    if (!m_folders.isValid()) {
        m_nextPassDelayMs = m_intervals.idlePauseMs;
        return 0;
    }
    const QFileInfoList entries = listFolder();
    Pass pass;
    for (const QFileInfo& entry : entries) {
        if (!m_sender.keepGoing() || !passOver(entry, pass))
            break;
    }
    forgetGone(entries, pass.listed);
    m_state.changed();
    planNextPass(pass, entries.isEmpty());
    return pass.announced;
}

void UploadLoop::Pass::waitAtMost(qint64 ms)
{
    soonestSettle = soonestSettle < 0 ? ms : std::min(soonestSettle, ms);
}

QFileInfoList UploadLoop::listFolder()
{
    const QString path = folder();
    m_folders.ensureImageFolder();

    if (m_takeRetries) {
        for (const QString& name : m_takeRetries())
            retry(name);
    }
    if (m_takeSetAside) {
        for (const QString& name : m_takeSetAside())
            setAside(name);
    }

    // The folder's time before the listing: a file that comes during it makes the next look list it again.
    const qint64 folderTime = QFileInfo(path).lastModified().toMSecsSinceEpoch();
    const QFileInfoList entries = UploadFolder::listImages(path);
    m_state.setListing(entries, path, folderTime);
    m_state.changed();
    return entries;
}

bool UploadLoop::passOver(const QFileInfo& entry, Pass& pass)
{
    PassImage image(entry.absoluteFilePath());
    const QFileInfo& look = image.look();
    if (!look.exists() || !look.isReadable())
        return false; // gone or locked since the listing: the next pass lists the folder afresh
    // Replaced by a link since the listing: never follow it out of the folder.
    if (look.isSymLink() || !look.isFile())
        return true;
    if (look.size() == 0) {
        m_sender.logOnce(image.path(), QStringLiteral("empty file left in place"));
        return true;
    }
    pass.listed.insert(image.signature());
    qint64 wait = 0;
    if (m_sender.leftAloneThisPass(image, &wait)) {
        if (wait > 0)
            pass.waitAtMost(wait);
        return true;
    }

    const UploadLedger::Entry known = recordedEntry(image);
    // No JPEG, PNG or BMP at all: nothing the service could read, refused before anything is sent.
    if (known.state == UploadLedger::State::Unknown && !image.mayBeImage()) {
        m_sender.refuse(image, notAnImageReason());
        return true;
    }
    if (known.state == UploadLedger::State::Announced) {
        if (m_sender.removeAnnounced(image))
            m_state.done(image.name());
        return true;
    }
    if (known.state == UploadLedger::State::Stored) {
        if (m_sender.announceAndDelete(image, known.key) == ImageSender::Outcome::Done)
            ++pass.announced;
        return true;
    }
    if (known.state == UploadLedger::State::Unknown && !settled(image, pass))
        return true;

    const ImageSender::Outcome outcome = m_sender.send(image, known);
    if (outcome == ImageSender::Outcome::Done)
        ++pass.announced;
    return outcome != ImageSender::Outcome::LeavePass;
}

UploadLedger::Entry UploadLoop::recordedEntry(PassImage& image)
{
    UploadLedger::Entry known = m_ledger.find(image.identity());
    // Its earlier copy was announced and deleted: this one is another sheet under the same name.
    if (known.state == UploadLedger::State::Deleted)
        known = UploadLedger::Entry();
    // Same name, size and time as a recorded image, other bytes: another sheet, never announced or deleted
    // for the one recorded.
    if (known.state != UploadLedger::State::Unknown && !known.digest.isEmpty() && image.digest() != known.digest) {
        m_sender.logOnce(image.path(), QStringLiteral("other bytes than the image recorded, sent as a new one"));
        known = UploadLedger::Entry();
    }
    // Refused in an earlier run: tried once more in this one.
    if (!known.refusedReason.isEmpty()) {
        AppLog::write(
            QStringLiteral("upload: refused earlier (%1), tried again: %2").arg(known.refusedReason, image.path()));
        m_ledger.clearRefusal(image.identity());
        known.refusedReason.clear();
    }
    return known;
}

// Not sent yet: a whole image goes at once; one that is not whole may still be being written by a producer that
// does not use the atomic hand-over, so it waits until it has been left alone for a while.
bool UploadLoop::settled(PassImage& image, Pass& pass)
{
    if (image.isWholeImage())
        return true;
    const qint64 now = m_clock.currentMSecsSinceEpoch();
    const qint64 age = now - image.identity().modifiedMs;
    qint64 wait = 0;
    if (age < 0) {
        // Time stamp in the future (clock skew, a copy that kept its time): settle on our own clock.
        const qint64 first = m_firstSeen.value(image.signature(), now);
        m_firstSeen.insert(image.signature(), first);
        wait = m_intervals.settleMs - (now - first);
    } else {
        wait = m_intervals.settleMs - age;
    }
    if (wait > 0) {
        pass.waitAtMost(wait);
        return false;
    }
    m_sender.logOnce(image.path(), QStringLiteral("not a whole image, sent as it is after staying unchanged"));
    return true;
}

// What the worker remembers of files no longer in the folder goes with them: one of the same name coming back is
// tried afresh.
void UploadLoop::forgetGone(const QFileInfoList& entries, const QSet<QString>& listed)
{
    m_sender.forgetGone(listed);
    for (auto it = m_firstSeen.begin(); it != m_firstSeen.end();)
        it = listed.contains(it.key()) ? std::next(it) : m_firstSeen.erase(it);
    QSet<QString> present;
    for (const QFileInfo& entry : entries)
        present.insert(entry.fileName());
    m_state.keepOnly(present);
}

void UploadLoop::planNextPass(const Pass& pass, bool folderEmpty)
{
    if (pass.announced > 0) {
        m_nextPassDelayMs = 0;
        return;
    }
    const int pause = folderEmpty ? m_intervals.idlePauseMs : m_intervals.waitingPauseMs;
    m_nextPassDelayMs = pass.soonestSettle > 0 ? static_cast<int>(std::min<qint64>(pass.soonestSettle, pause)) : pause;
}
