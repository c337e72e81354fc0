#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QThreadPool>

#include "upload/QueueState.h"

// The queue window's rows: one per image the worker listed, with its thumbnail, task, name, state, attempts, reason
// and the actions the teacher has on it. A new state from the worker updates the rows that stay in place, removes
// the rows gone and inserts the new ones, so the view repaints only what changed and keeps its scroll position.
// Thumbnails are decoded on a pool thread, scaled while they are read, only for the rows the view asks for (the
// visible ones), and kept in a cache.
class QueueModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        ThumbnailColumn,
        TaskColumn,
        NameColumn,
        StateColumn,
        AttemptsColumn,
        ReasonColumn,
        RetryColumn,
        SetAsideColumn,
        OpenFolderColumn,
        ColumnCount,
    };

    static constexpr int ThumbnailWidth = 48;
    static constexpr int ThumbnailHeight = 36;

    explicit QueueModel(QObject* parent = nullptr);
    ~QueueModel() override;

    void setTaskTitle(const QString& taskId, const QString& title);
    void setImages(const QList<QueueState::Image>& images);
    const QueueState::Image& image(int row) const;
    // Whether the column's cell of the row is an action the teacher can take now.
    bool isAction(const QModelIndex& index) const;
    // Whether this copy sends the images: while another copy does, a refused row's "重试" and "不再上传" would only
    // be carried out once this one takes over, so they are shown greyed, with where to take them instead.
    void setActionsHere(bool here);
    // The teacher asked for something on a refused row: its state says so, and its actions are gone, until the
    // worker's next state tells what became of it.
    void markRequested(int row, const QString& text);
    // Blocks until the thumbnails asked for so far are decoded (benchmarks, tests).
    void waitForThumbnails();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private slots:
    void thumbnailReady(const QString& imageKey, const QString& thumbnailKey, const QImage& image);

private:
    static const QString& keyOf(const QueueState::Image& image);
    static QString thumbnailKeyOf(const QueueState::Image& image);
    void emitChanged(int first, int last);
    // "重试" and "不再上传" of a refused row not asked for yet.
    bool isRefusedRowAction(const QueueState::Image& image) const;
    // Such an action that the copy sending the images takes, not this one.
    bool isActionElsewhere(const QModelIndex& index) const;
    QVariant thumbnail(int row) const;

    QList<QueueState::Image> m_images;
    // Row of each key as the worker's last state had it (the rows shown once the state is applied).
    QHash<QString, int> m_rowOf;
    QHash<QString, QString> m_titles;
    QHash<QString, QString> m_requested;
    bool m_actionsHere = true;
    mutable QCache<QString, QPixmap> m_thumbnails;
    mutable QSet<QString> m_loading;
    mutable QThreadPool m_pool;
};
