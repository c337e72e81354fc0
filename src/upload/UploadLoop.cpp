#include "upload/UploadLoop.h"

#include <algorithm>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "core/AppLog.h"
#include "core/SecureTransport.h"
#include "core/Settings.h"
#include "upload/UploadFolder.h"

QString UploadLoop::notAnImageReason()
{
    return QStringLiteral("不是图片文件");
}

UploadLoop::UploadLoop(Service& service, Uploader& uploader, const Clock& clock, Sleeper& sleeper, UploadLedger& ledger,
                       const QString& uid, const TaskFolders& folders, const Intervals& intervals)
    : m_service(service), m_sleeper(sleeper), m_ledger(ledger), m_uid(uid), m_folders(folders), m_intervals(intervals),
      m_clock(clock), m_state(folders.taskId()),
      m_sender(service, uploader, clock, sleeper, ledger, m_state, m_intervals, uid, folders.taskId())
{
}

void UploadLoop::setRemoveFile(std::function<bool(const QString&)> removeFile)
{
    m_sender.setRemoveFile(std::move(removeFile));
}

void UploadLoop::setKeepGoing(std::function<bool()> keepGoing)
{
    m_sender.setKeepGoing(std::move(keepGoing));
}

void UploadLoop::setOnChange(std::function<void()> onChange)
{
    m_state.setOnChange(std::move(onChange));
}

void UploadLoop::setTakeRetries(std::function<QStringList()> takeRetries)
{
    m_takeRetries = std::move(takeRetries);
}

void UploadLoop::setTakeSetAside(std::function<QStringList()> takeSetAside)
{
    m_takeSetAside = std::move(takeSetAside);
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
    while (m_sender.keepGoing()) {
        runPass();
        int delay = m_nextPassDelayMs;
        for (UploadLoop* other : alongside) {
            if (!m_sender.keepGoing())
                break;
            other->runPass();
            delay = std::min(delay, other->nextPassDelayMs());
        }
        if (delay > 0 && m_sender.keepGoing())
            m_sleeper.waitForChange(folder(), delay);
    }
}

void UploadLoop::claimTask()
{
    if (m_folders.isValid() && !m_uid.isEmpty() && m_ledger.owner() != m_uid)
        m_ledger.setOwner(m_uid);
}

bool UploadLoop::acquireCredentials()
{
    while (m_sender.keepGoing()) {
        if (m_service.getUploadToken()) {
            m_state.setServiceLink(QueueState::Link::Ok);
            return true;
        }
        // Nothing is sent yet, but the teacher sees what waits: the worker's own look at the folder.
        if (m_folders.isValid()) {
            const qint64 folderTime = QFileInfo(folder()).lastModified().toMSecsSinceEpoch();
            m_state.setListing(UploadFolder::listImages(folder()), folder(), folderTime);
        }
        // A refused certificate is no outage: only the school's network or the computer's authorities mend it.
        m_state.setServiceLink(SecureTransport::isFailing(Settings::apiHost()) ? QueueState::Link::SecureLinkFailed
                                                                               : QueueState::Link::ServiceUnreachable);
        m_state.changed();
        m_sleeper.sleep(m_intervals.credentialsRetryMs);
    }
    return false;
}

void UploadLoop::retry(const QString& fileName)
{
    for (const QueueState::Image& listed : m_state.listing()) {
        if (listed.name != fileName)
            continue;
        m_sender.forgetRefusal(UploadLedger::Identity{listed.name, listed.size, listed.modifiedMs});
        AppLog::write(QStringLiteral("upload: refusal cleared at the teacher's request, sent again: ") + listed.path);
    }
    m_state.forget(fileName);
    m_state.changed();
}

bool UploadLoop::setAside(const QString& fileName)
{
    const QFileInfo file(folder() + fileName);
    const UploadLedger::Identity identity{file.fileName(), file.size(), file.lastModified().toMSecsSinceEpoch()};
    if (!file.isFile() || m_ledger.find(identity).refusedReason.isEmpty()) {
        AppLog::write(QStringLiteral("upload: not set aside, no longer a refused image in the folder: ") +
                      file.filePath());
        return false;
    }
    const QString target = m_folders.setAsideFolder();
    QString moved = target + fileName;
    // A sheet of the same name set aside earlier stays: this one takes a numbered name beside it.
    for (int n = 2; QFileInfo::exists(moved); ++n)
        moved = target + file.completeBaseName() + QStringLiteral(" (%1).").arg(n) + file.suffix();
    const bool listingCurrent = !m_state.folderChangedSinceListing();
    if (!m_folders.ensureSetAsideFolder() || !QFile::rename(file.filePath(), moved)) {
        AppLog::write(QStringLiteral("upload: refused image could not be set aside, left in the folder: %1 -> %2")
                          .arg(file.filePath(), moved));
        m_state.failed(fileName, QStringLiteral("无法移到“未上传”文件夹"));
        m_state.changed();
        return false;
    }
    m_state.ownChange(listingCurrent);
    m_sender.forgetRefusal(identity);
    AppLog::write(QStringLiteral("upload: refused image set aside at the teacher's request: %1 -> %2")
                      .arg(file.filePath(), moved));
    m_state.forget(fileName);
    m_state.done(fileName);
    m_state.changed();
    return true;
}

QString UploadLoop::folder() const
{
    return m_folders.imageFolder();
}

QString UploadLoop::objectKey(const QString& uid, const QString& taskId, qint64 ms, const QString& fileName)
{
    return ImageSender::objectKey(uid, taskId, ms, fileName);
}

int UploadLoop::nextPassDelayMs() const
{
    return m_nextPassDelayMs;
}

bool UploadLoop::secureConnectionFailing() const
{
    return m_state.serviceLink() == QueueState::Link::SecureLinkFailed ||
           m_state.storeLink() == QueueState::Link::SecureLinkFailed;
}

bool UploadLoop::folderChangedSinceListing() const
{
    return m_folders.isValid() && m_state.folderChangedSinceListing();
}

void UploadLoop::gather(QueueState& state) const
{
    if (m_folders.isValid())
        m_state.gather(state, m_ledger);
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

QueueState::Link UploadLoop::link() const
{
    return m_state.link();
}

qint64 UploadLoop::lastSuccessMs() const
{
    return m_state.lastSuccessMs();
}
