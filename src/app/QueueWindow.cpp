#include "app/QueueWindow.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "core/TaskFolders.h"
#include "widgets/AccessibleName.h"

namespace {

constexpr int kThumbnailWidth = 48;
constexpr int kThumbnailHeight = 36;
constexpr int kThumbnailsPerTick = 8;

enum Column
{
    ThumbnailColumn,
    TaskColumn,
    NameColumn,
    StateColumn,
    AttemptsColumn,
    ReasonColumn,
    ActionColumn,
    ColumnCount,
};

const char kTextStyle[] = "font-family:'Microsoft YaHei';font-size:14px;font-weight:400;color:rgba(51,51,51,1);";

QPushButton* makeSmallButton(QWidget* parent, const QString& objectName, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setCursor(Qt::PointingHandCursor);
    button->setFixedHeight(26);
    button->setStyleSheet(QStringLiteral("QPushButton{border:1px solid #FDA738;border-radius:4px;padding:0px 8px;"
                                         "color:rgba(253,167,56,1);font-size:12px;background:white;}"
                                         "QPushButton:disabled{border-color:rgba(216,216,216,1);"
                                         "color:rgba(153,153,153,1);}"));
    return button;
}

// The strip's preview copy when there is one (small and already decoded once), else the image itself.
QString thumbnailSource(const QueueState::Image& image)
{
    const QString preview =
        TaskFolders::inWorkingFolder(image.taskId).previewFolder() + QFileInfo(image.path).fileName();
    return QFileInfo::exists(preview) ? preview : image.path;
}

} // namespace

QueueWindow::QueueWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("QueueWindow"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);
    setWindowTitle(QStringLiteral("上传队列"));
    resize(760, 460);
    setMinimumSize(560, 300);
    setStyleSheet(QStringLiteral("#QueueWindow{background:rgba(255,255,255,255);border-radius:4px;"
                                 "border:1px solid rgba(216,216,216,1);}"));

    auto* title = new QLabel(QStringLiteral("上传队列"), this);
    title->setObjectName(QStringLiteral("queueTitle"));
    title->setStyleSheet(
        QStringLiteral("font-family:'Microsoft YaHei';font-size:18px;font-weight:500;color:rgba(51,51,51,1);"));
    m_summaryLabel = new QLabel(this);
    m_summaryLabel->setObjectName(QStringLiteral("queueSummary"));
    m_summaryLabel->setStyleSheet(QString::fromUtf8(kTextStyle));
    m_summaryLabel->setWordWrap(true);

    setUpTable();

    auto* closeButton = new QPushButton(QStringLiteral("关闭"), this);
    closeButton->setObjectName(QStringLiteral("queueCloseButton"));
    closeButton->setFixedSize(85, 35);
    closeButton->setCursor(Qt::PointingHandCursor);
    closeButton->setStyleSheet(
        QStringLiteral("QPushButton{color:white;font-size:14px;border:1px solid #FDA738;border-radius:4px;"
                       "background:qlineargradient(x1:0,y1:1,x2:0,y2:0,stop:0 rgba(253,190,56,255),"
                       "stop:1 rgba(253,167,56,255));}"));
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addWidget(m_summaryLabel);
    layout->addWidget(m_table, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    m_openFolder = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    m_rebuildTimer.setSingleShot(true);
    m_rebuildTimer.setInterval(300);
    connect(&m_rebuildTimer, &QTimer::timeout, this, &QueueWindow::rebuild);
    m_thumbnailTimer.setInterval(0);
    connect(&m_thumbnailTimer, &QTimer::timeout, this, &QueueWindow::loadSomeThumbnails);
    rebuild();
}

void QueueWindow::setUpTable()
{
    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("queueTable"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("缩略图"), QStringLiteral("任务"), QStringLiteral("文件名"),
                                        QStringLiteral("状态"), QStringLiteral("尝试次数"), QStringLiteral("原因"),
                                        QStringLiteral("操作")});
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(kThumbnailHeight + 6);
    m_table->setIconSize(QSize(kThumbnailWidth, kThumbnailHeight));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setShowGrid(false);
    // Rows are not selected here; the table's corner button (select all) is named all the same.
    m_table->setCornerButtonEnabled(false);
    if (auto* corner = m_table->findChild<QAbstractButton*>())
        AccessibleName::setForIconButton(corner, QStringLiteral("全选"));
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(ReasonColumn, QHeaderView::Stretch);
    m_table->setStyleSheet(QStringLiteral("QTableWidget{border:none;background:white;%1}"
                                          "QHeaderView::section{background:rgba(245,245,245,1);border:none;"
                                          "padding:4px;color:rgba(102,102,102,1);font-size:12px;}")
                               .arg(QString::fromUtf8(kTextStyle)));
}

void QueueWindow::setTaskTitle(const QString& taskId, const QString& title)
{
    m_titles.insert(taskId, title);
}

void QueueWindow::setOpenFolder(OpenFolder openFolder)
{
    m_openFolder = std::move(openFolder);
}

void QueueWindow::setQueueState(const QueueState& state)
{
    m_state = state;
    // Rows are made only while the window is open; opening it shows the latest state.
    if (isVisible() && !m_rebuildTimer.isActive())
        m_rebuildTimer.start();
}

void QueueWindow::rebuild()
{
    const QueueState::Summary summary = m_state.summary();
    m_summaryLabel->setText(summary.fullText.isEmpty() ? QStringLiteral("所有照片都已上传") : summary.fullText);
    const int total = m_state.pending() + m_state.refused();
    if (total > m_state.images.size()) {
        m_summaryLabel->setText(m_summaryLabel->text() +
                                QStringLiteral("\n仅列出前 %1 张，共 %2 张").arg(m_state.images.size()).arg(total));
    }

    m_table->setRowCount(m_state.images.size());
    for (int row = 0; row < m_state.images.size(); ++row) {
        const QueueState::Image& image = m_state.images.at(row);
        const QString title = m_titles.value(image.taskId, image.taskId);
        const QStringList texts{
            QString(),   title, image.name, QueueState::stateText(image.state), QString::number(image.attempts),
            image.reason};
        for (int column = 0; column < texts.size(); ++column) {
            auto* item = new QTableWidgetItem(texts.at(column));
            if (column == StateColumn && image.state == QueueState::ImageState::Refused)
                item->setForeground(QColor(255, 82, 82));
            if (column == ReasonColumn)
                item->setToolTip(image.reason);
            m_table->setItem(row, column, item);
        }

        auto* actions = new QWidget(m_table);
        auto* actionLayout = new QHBoxLayout(actions);
        actionLayout->setContentsMargins(4, 0, 4, 0);
        actionLayout->setSpacing(6);
        if (image.state == QueueState::ImageState::Refused) {
            QPushButton* retry = makeSmallButton(actions, QStringLiteral("retryButton"), QStringLiteral("重试"));
            const QString taskId = image.taskId;
            const QString name = image.name;
            connect(retry, &QPushButton::clicked, this, [this, retry, taskId, name, row] {
                retry->setEnabled(false);
                if (QTableWidgetItem* state = m_table->item(row, StateColumn))
                    state->setText(QStringLiteral("将重新上传"));
                emit retryRequested(taskId, name);
            });
            actionLayout->addWidget(retry);
        }
        QPushButton* open = makeSmallButton(actions, QStringLiteral("openFolderButton"), QStringLiteral("打开文件夹"));
        const QString folder = QFileInfo(image.path).absolutePath();
        connect(open, &QPushButton::clicked, this, [this, folder] {
            if (m_openFolder)
                m_openFolder(folder);
        });
        actionLayout->addWidget(open);
        actionLayout->addStretch(1);
        m_table->setCellWidget(row, ActionColumn, actions);
    }
    m_nextThumbnailRow = 0;
    if (!m_state.images.isEmpty())
        m_thumbnailTimer.start();
}

void QueueWindow::loadSomeThumbnails()
{
    for (int done = 0; done < kThumbnailsPerTick && m_nextThumbnailRow < m_state.images.size();
         ++done, ++m_nextThumbnailRow) {
        QImageReader reader(thumbnailSource(m_state.images.at(m_nextThumbnailRow)));
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid())
            reader.setScaledSize(size.scaled(kThumbnailWidth, kThumbnailHeight, Qt::KeepAspectRatio));
        const QImage image = reader.read();
        if (!image.isNull() && m_table->item(m_nextThumbnailRow, ThumbnailColumn))
            m_table->item(m_nextThumbnailRow, ThumbnailColumn)->setIcon(QIcon(QPixmap::fromImage(image)));
    }
    if (m_nextThumbnailRow >= m_state.images.size())
        m_thumbnailTimer.stop();
}

void QueueWindow::showEvent(QShowEvent* event)
{
    rebuild();
    QDialog::showEvent(event);
}
