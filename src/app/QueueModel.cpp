#include "app/QueueModel.h"

#include <algorithm>

#include <QColor>
#include <QFileInfo>
#include <QImageReader>
#include <QMetaObject>

#include "core/TaskFolders.h"

namespace {

// Thumbnails kept; each costs a few kilobytes.
constexpr int kCachedThumbnails = 4000;

const QColor kWarning(255, 82, 82);
const QColor kAction(253, 167, 56);
const QColor kUnavailable(128, 128, 128);
const char kActionsElsewhere[] = "另一个窗口正在上传，请在那个窗口中操作";

// The strip's preview copy when there is one (small and already decoded once), else the image itself.
QString thumbnailSource(const QString& taskId, const QString& path)
{
    const QString preview = TaskFolders::inWorkingFolder(taskId).previewFolder() + QFileInfo(path).fileName();
    return QFileInfo::exists(preview) ? preview : path;
}

QImage decodeThumbnail(const QString& taskId, const QString& path)
{
    QImageReader reader(thumbnailSource(taskId, path));
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(QueueModel::ThumbnailWidth, QueueModel::ThumbnailHeight, Qt::KeepAspectRatio));
    return reader.read();
}

bool sameRow(const QueueState::Image& a, const QueueState::Image& b)
{
    return a.state == b.state && a.attempts == b.attempts && a.reason == b.reason && a.path == b.path &&
           a.size == b.size && a.modifiedMs == b.modifiedMs;
}

} // namespace

QueueModel::QueueModel(QObject* parent) : QAbstractTableModel(parent), m_thumbnails(kCachedThumbnails)
{
    // One decoder: thumbnails come in the order the view asks, and the worker keeps the other core.
    m_pool.setMaxThreadCount(1);
}

QueueModel::~QueueModel()
{
    m_pool.clear();
    m_pool.waitForDone();
}

// The file's path names the task's folder and the file: one key per row, without making a new text.
const QString& QueueModel::keyOf(const QueueState::Image& image)
{
    return image.path;
}

QString QueueModel::thumbnailKeyOf(const QueueState::Image& image)
{
    return image.path + QLatin1Char('\n') + QString::number(image.size) + QLatin1Char('\n') +
           QString::number(image.modifiedMs);
}

void QueueModel::setTaskTitle(const QString& taskId, const QString& title)
{
    m_titles.insert(taskId, title);
    if (!m_images.isEmpty())
        emitChanged(0, m_images.size() - 1);
}

void QueueModel::setImages(const QList<QueueState::Image>& images)
{
    QHash<QString, int> wanted;
    wanted.reserve(images.size());
    for (int row = 0; row < images.size(); ++row)
        wanted.insert(keyOf(images.at(row)), row);

    // Rows gone: removed from the bottom up, a run of neighbours at a time.
    for (int row = m_images.size() - 1; row >= 0;) {
        if (wanted.contains(keyOf(m_images.at(row)))) {
            --row;
            continue;
        }
        const int last = row;
        while (row >= 0 && !wanted.contains(keyOf(m_images.at(row))))
            --row;
        beginRemoveRows(QModelIndex(), row + 1, last);
        m_images.erase(m_images.begin() + row + 1, m_images.begin() + last + 1);
        endRemoveRows();
    }

    // The rows that stay keep their order: updated in place; new rows are inserted where they belong. A row that
    // stays is one the last state had (m_rowOf still indexes it) and this one has.
    int changedFrom = -1;
    for (int row = 0; row < images.size();) {
        const QueueState::Image& image = images.at(row);
        if (row < m_images.size() && keyOf(m_images.at(row)) == keyOf(image)) {
            if (!sameRow(m_images.at(row), image)) {
                m_images[row] = image;
                if (changedFrom < 0)
                    changedFrom = row;
            } else if (changedFrom >= 0) {
                emitChanged(changedFrom, row - 1);
                changedFrom = -1;
            }
            ++row;
            continue;
        }
        if (changedFrom >= 0) {
            emitChanged(changedFrom, row - 1);
            changedFrom = -1;
        }
        if (!m_rowOf.contains(keyOf(image))) {
            int end = row;
            while (end < images.size() && !m_rowOf.contains(keyOf(images.at(end))))
                ++end;
            beginInsertRows(QModelIndex(), row, end - 1);
            for (int i = row; i < end; ++i)
                m_images.insert(i, images.at(i));
            endInsertRows();
            row = end;
            continue;
        }
        // The worker put the rows in another order (a refusal moves a row up): shown afresh.
        beginResetModel();
        m_images = images;
        endResetModel();
        changedFrom = -1;
        break;
    }
    if (changedFrom >= 0)
        emitChanged(changedFrom, m_images.size() - 1);

    // A request stays shown until the worker has acted on it: the row is gone or no longer refused.
    for (auto it = m_requested.begin(); it != m_requested.end();) {
        const int row = wanted.value(it.key(), -1);
        const bool pending = row >= 0 && images.at(row).state == QueueState::ImageState::Refused;
        it = pending ? std::next(it) : m_requested.erase(it);
    }
    m_rowOf = wanted;
}

void QueueModel::emitChanged(int first, int last)
{
    emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

const QueueState::Image& QueueModel::image(int row) const
{
    return m_images.at(row);
}

bool QueueModel::isAction(const QModelIndex& index) const
{
    if (!index.isValid() || index.row() >= m_images.size())
        return false;
    const QueueState::Image& image = m_images.at(index.row());
    switch (index.column()) {
    case RetryColumn:
    case SetAsideColumn:
        return m_actionsHere && isRefusedRowAction(image);
    case OpenFolderColumn:
        return true;
    default:
        return false;
    }
}

void QueueModel::setActionsHere(bool here)
{
    if (here == m_actionsHere)
        return;
    m_actionsHere = here;
    if (!m_images.isEmpty())
        emitChanged(0, m_images.size() - 1);
}

bool QueueModel::isRefusedRowAction(const QueueState::Image& image) const
{
    return image.state == QueueState::ImageState::Refused && !m_requested.contains(keyOf(image));
}

bool QueueModel::isActionElsewhere(const QModelIndex& index) const
{
    if (m_actionsHere || !index.isValid() || index.row() >= m_images.size())
        return false;
    return (index.column() == RetryColumn || index.column() == SetAsideColumn) &&
           isRefusedRowAction(m_images.at(index.row()));
}

void QueueModel::markRequested(int row, const QString& text)
{
    if (row < 0 || row >= m_images.size())
        return;
    m_requested.insert(keyOf(m_images.at(row)), text);
    emitChanged(row, row);
}

int QueueModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_images.size();
}

int QueueModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant QueueModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_images.size())
        return QVariant();
    const QueueState::Image& image = m_images.at(index.row());
    const int column = index.column();
    if (role == Qt::DecorationRole && column == ThumbnailColumn)
        return thumbnail(index.row());
    if (role == Qt::ForegroundRole) {
        if (column == StateColumn && image.state == QueueState::ImageState::Refused)
            return kWarning;
        if (isAction(index))
            return kAction;
        if (isActionElsewhere(index))
            return kUnavailable;
        return QVariant();
    }
    if (role == Qt::ToolTipRole) {
        if (column == ReasonColumn)
            return image.reason;
        if (column == SetAsideColumn && isAction(index))
            return QStringLiteral("移到“未上传”文件夹，不删除");
        if (isActionElsewhere(index))
            return QString::fromUtf8(kActionsElsewhere);
        return QVariant();
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (column) {
    case TaskColumn:
        return m_titles.value(image.taskId, image.taskId);
    case NameColumn:
        return image.name;
    case StateColumn:
        return m_requested.value(keyOf(image), QueueState::stateText(image.state));
    case AttemptsColumn:
        return image.attempts;
    case ReasonColumn:
        return image.reason;
    case RetryColumn:
        return isAction(index) || isActionElsewhere(index) ? QStringLiteral("重试") : QString();
    case SetAsideColumn:
        return isAction(index) || isActionElsewhere(index) ? QStringLiteral("不再上传") : QString();
    case OpenFolderColumn:
        return QStringLiteral("打开文件夹");
    default:
        return QVariant();
    }
}

QVariant QueueModel::thumbnail(int row) const
{
    const QueueState::Image& image = m_images.at(row);
    const QString key = thumbnailKeyOf(image);
    if (const QPixmap* cached = m_thumbnails.object(key))
        return *cached;
    if (m_loading.contains(key))
        return QVariant();
    m_loading.insert(key);
    auto* model = const_cast<QueueModel*>(this);
    const QString imageKey = keyOf(image);
    const QString taskId = image.taskId;
    const QString path = image.path;
    m_pool.start([model, imageKey, key, taskId, path] {
        const QImage decoded = decodeThumbnail(taskId, path);
        // Queued to the model's thread; the model waits for the pool before it goes.
        QMetaObject::invokeMethod(model, "thumbnailReady", Qt::QueuedConnection, Q_ARG(QString, imageKey),
                                  Q_ARG(QString, key), Q_ARG(QImage, decoded));
    });
    return QVariant();
}

void QueueModel::thumbnailReady(const QString& imageKey, const QString& thumbnailKey, const QImage& image)
{
    m_loading.remove(thumbnailKey);
    // An image that cannot be read is not tried again on every repaint: an empty thumbnail is kept for it.
    m_thumbnails.insert(thumbnailKey, new QPixmap(QPixmap::fromImage(image)));
    const auto row = m_rowOf.constFind(imageKey);
    if (row != m_rowOf.constEnd())
        emit dataChanged(index(row.value(), ThumbnailColumn), index(row.value(), ThumbnailColumn),
                         {Qt::DecorationRole});
}

void QueueModel::waitForThumbnails()
{
    m_pool.waitForDone();
}

QVariant QueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const QStringList headers{QStringLiteral("缩略图"),
                                     QStringLiteral("任务"),
                                     QStringLiteral("文件名"),
                                     QStringLiteral("状态"),
                                     QStringLiteral("尝试次数"),
                                     QStringLiteral("原因"),
                                     QStringLiteral("操作"),
                                     QString(),
                                     QString()};
    return section >= 0 && section < headers.size() ? headers.at(section) : QVariant();
}
