#include "upload/QueueState.h"

#include <algorithm>

#include <QDateTime>
#include <QFileInfo>

namespace {

bool sameTask(const QueueState::Task& a, const QueueState::Task& b)
{
    return a.taskId == b.taskId && a.waiting == b.waiting && a.inFlight == b.inFlight &&
           a.storedNotAnnounced == b.storedNotAnnounced && a.refused == b.refused;
}

bool sameImage(const QueueState::Image& a, const QueueState::Image& b)
{
    return a.taskId == b.taskId && a.name == b.name && a.path == b.path && a.state == b.state &&
           a.attempts == b.attempts && a.reason == b.reason && a.size == b.size && a.modifiedMs == b.modifiedMs;
}

} // namespace

int QueueState::pending() const
{
    int count = 0;
    for (const Task& task : tasks)
        count += task.waiting + task.inFlight + task.storedNotAnnounced;
    return count;
}

int QueueState::inFlight() const
{
    int count = 0;
    for (const Task& task : tasks)
        count += task.inFlight;
    return count;
}

int QueueState::refused() const
{
    int count = 0;
    for (const Task& task : tasks)
        count += task.refused;
    return count;
}

bool QueueState::operator==(const QueueState& other) const
{
    return link == other.link && lastSuccessMs == other.lastSuccessMs && published == other.published &&
           std::equal(tasks.begin(), tasks.end(), other.tasks.begin(), other.tasks.end(), sameTask) &&
           std::equal(images.begin(), images.end(), other.images.begin(), other.images.end(), sameImage);
}

QString QueueState::stateText(ImageState state)
{
    switch (state) {
    case ImageState::Waiting:
        return QStringLiteral("等待上传");
    case ImageState::InFlight:
        return QStringLiteral("正在上传");
    case ImageState::StoredNotAnnounced:
        return QStringLiteral("已上传，等待服务确认");
    case ImageState::Refused:
        return QStringLiteral("无法上传");
    }
    return QString();
}

QString QueueState::linkText(Link link)
{
    switch (link) {
    case Link::Ok:
        return QString();
    case Link::ServiceUnreachable:
        return QStringLiteral("无法连接服务器");
    case Link::StoreUnreachable:
        return QStringLiteral("无法连接存储服务");
    case Link::TokenRefused:
        return QStringLiteral("上传授权失效");
    case Link::SecureLinkFailed:
        return QStringLiteral("无法建立安全连接");
    case Link::OtherCopy:
        return QStringLiteral("另一个窗口正在上传");
    }
    return QString();
}

QueueState::Summary QueueState::summary() const
{
    Summary summary;
    // Another copy drains the folder: who uploads is what this one can say, whatever the counts. The counts and the
    // states are the queue window's rows; a count here would read as this copy's own queue, stuck.
    if (link == Link::OtherCopy) {
        summary.kind = Kind::Uploading;
        summary.shortText = linkText(link);
        summary.fullText = summary.shortText;
        return summary;
    }
    const int waiting = pending();
    const int refusedCount = refused();
    QStringList parts;
    if (waiting > 0 && link != Link::Ok) {
        summary.kind = Kind::Offline;
        summary.shortText = QStringLiteral("%1，%2 张待上传").arg(linkText(link)).arg(waiting);
        QString text = QStringLiteral("%1，%2 张照片已保存在本机，恢复后自动上传").arg(linkText(link)).arg(waiting);
        if (lastSuccessMs > 0) {
            text += QStringLiteral("（上次上传成功：%1）")
                        .arg(QDateTime::fromMSecsSinceEpoch(lastSuccessMs).toString(QStringLiteral("HH:mm")));
        }
        parts << text;
    } else if (waiting > 0) {
        summary.kind = Kind::Uploading;
        // The count is of every sheet still to go; only the one on its way is being uploaded.
        summary.shortText = inFlight() > 0 ? QStringLiteral("正在上传，%1 张待上传").arg(waiting)
                                           : QStringLiteral("%1 张待上传").arg(waiting);
        parts << summary.shortText;
    }
    if (refusedCount > 0) {
        const QString text = QStringLiteral("%1 张照片无法上传").arg(refusedCount);
        if (summary.kind == Kind::Idle || summary.kind == Kind::Uploading) {
            summary.kind = Kind::Refused;
            summary.shortText = text;
        }
        parts << text;
    }
    summary.fullText = parts.join(QLatin1Char('\n'));
    return summary;
}

QStringList QueueState::refusedImages() const
{
    QStringList named;
    for (const Image& image : images) {
        if (image.state == ImageState::Refused)
            named << image.name + QStringLiteral("（") + image.reason + QStringLiteral("）");
    }
    return named;
}

QueueState::Image QueueState::listed(const QString& taskId, const QFileInfo& info)
{
    Image image;
    image.taskId = taskId;
    image.name = info.fileName();
    image.path = info.absoluteFilePath();
    image.size = info.size();
    image.modifiedMs = info.lastModified().toMSecsSinceEpoch();
    return image;
}
