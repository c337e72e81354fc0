#include <algorithm>

#include <QDir>

#include "upload/UploadFolder.h"
#include "upload/UploadLoop.h"
#include "upload/UploadLoopSupport.h"

using namespace UploadLoopSupport;

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
        if (!keepGoing() || !passOver(entry, pass))
            break;
    }
    forgetGone(entries, pass.listed);
    changed();
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
    if (!QDir(path).exists())
        QDir().mkdir(path);

    if (m_takeRetries) {
        for (const QString& name : m_takeRetries())
            retry(name);
    }

    const QFileInfoList entries = UploadFolder::listImages(path);
    setListing(entries);
    changed();
    return entries;
}

bool UploadLoop::passOver(const QFileInfo& entry, Pass& pass)
{
    // Fresh look: the listing may be old by now.
    const QFileInfo info(entry.absoluteFilePath());
    if (!info.exists() || !info.isReadable())
        return false; // gone or locked since the listing: the next pass lists the folder afresh
    // Replaced by a link since the listing: never follow it out of the folder.
    if (info.isSymLink() || !info.isFile())
        return true;
    if (info.size() == 0) {
        logOnce(info.absoluteFilePath(), QStringLiteral("empty file left in place"));
        return true;
    }
    const UploadLedger::Identity image = identityOf(info);
    const QString sig = signature(image);
    pass.listed.insert(sig);
    if (leftAloneThisPass(info, image, sig, pass))
        return true;

    const UploadLedger::Entry known = recordedEntry(info, image);
    // No JPEG, PNG or BMP at all: nothing the service could read, refused before anything is sent.
    if (known.state == UploadLedger::State::Unknown && !UploadFolder::mayBeImage(info.absoluteFilePath())) {
        refuse(info.absoluteFilePath(), image, notAnImageReason());
        return true;
    }
    if (known.state == UploadLedger::State::Announced) {
        if (removeAnnounced(info.absoluteFilePath(), image))
            m_doneThisPass.insert(image.name);
        return true;
    }
    if (known.state == UploadLedger::State::Stored) {
        if (announceAndDelete(info.absoluteFilePath(), image, known.key) == Outcome::Done)
            ++pass.announced;
        return true;
    }
    if (known.state == UploadLedger::State::Unknown && !settled(info, image, sig, pass))
        return true;

    const Outcome outcome = uploadOne(info, image, known);
    if (outcome == Outcome::Done)
        ++pass.announced;
    return outcome != Outcome::LeavePass;
}

bool UploadLoop::leftAloneThisPass(const QFileInfo& info, const UploadLedger::Identity& image, const QString& sig,
                                   Pass& pass)
{
    // Announced and not deletable (a read-only folder): tried again now and then, without asking the ledger,
    // so that a folder full of them costs next to nothing per pass.
    const auto undeleted = m_undeleted.constFind(sig);
    if (undeleted != m_undeleted.constEnd()) {
        if (m_clock.currentMSecsSinceEpoch() >= undeleted.value() && removeAnnounced(info.absoluteFilePath(), image))
            m_doneThisPass.insert(image.name);
        return true;
    }
    // Waiting for its own next attempt.
    const auto heldBack = m_heldBack.constFind(sig);
    if (heldBack != m_heldBack.constEnd()) {
        const qint64 wait = heldBack.value() - m_clock.currentMSecsSinceEpoch();
        if (wait > 0) {
            pass.waitAtMost(wait);
            return true;
        }
        m_heldBack.remove(sig);
    }
    return m_refusedThisRun.contains(sig);
}

UploadLedger::Entry UploadLoop::recordedEntry(const QFileInfo& info, const UploadLedger::Identity& image)
{
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
        logLine(
            QStringLiteral("refused earlier (%1), tried again: %2").arg(known.refusedReason, info.absoluteFilePath()));
        m_ledger.clearRefusal(image);
        known.refusedReason.clear();
    }
    return known;
}

// Not sent yet: a whole image goes at once; one that is not whole may still be being written by a producer that
// does not use the atomic hand-over, so it waits until it has been left alone for a while.
bool UploadLoop::settled(const QFileInfo& info, const UploadLedger::Identity& image, const QString& sig, Pass& pass)
{
    if (UploadFolder::isWholeImage(info.absoluteFilePath()))
        return true;
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
        pass.waitAtMost(wait);
        return false;
    }
    logOnce(info.absoluteFilePath(), QStringLiteral("not a whole image, sent as it is after staying unchanged"));
    return true;
}

// What the worker remembers of files no longer in the folder goes with them: one of the same name coming back is
// tried afresh.
void UploadLoop::forgetGone(const QFileInfoList& entries, const QSet<QString>& listed)
{
    for (auto it = m_refusedThisRun.begin(); it != m_refusedThisRun.end();)
        it = listed.contains(*it) ? std::next(it) : m_refusedThisRun.erase(it);
    for (QHash<QString, qint64>* seen : {&m_firstSeen, &m_undeleted, &m_heldBack}) {
        for (auto it = seen->begin(); it != seen->end();)
            it = listed.contains(it.key()) ? std::next(it) : seen->erase(it);
    }
    QSet<QString> present;
    for (const QFileInfo& entry : entries)
        present.insert(entry.fileName());
    for (auto it = m_runtime.reasons.begin(); it != m_runtime.reasons.end();)
        it = present.contains(it.key()) ? std::next(it) : m_runtime.reasons.erase(it);
    for (auto it = m_runtime.attempts.begin(); it != m_runtime.attempts.end();)
        it = present.contains(it.key()) ? std::next(it) : m_runtime.attempts.erase(it);
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
