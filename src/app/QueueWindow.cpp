#include "app/QueueWindow.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include "app/QueueModel.h"
#include "widgets/AccessibleName.h"

namespace {

const char kTextStyle[] = "font-family:'Microsoft YaHei';font-size:14px;font-weight:400;color:rgba(51,51,51,1);";

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
    showState();
}

void QueueWindow::setUpTable()
{
    m_model = new QueueModel(this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("queueTable"));
    m_table->setModel(m_model);
    m_table->verticalHeader()->hide();
    // Fixed heights and widths: measuring every row's contents would cost what thousands of rows cost.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(QueueModel::ThumbnailHeight + 6);
    m_table->setIconSize(QSize(QueueModel::ThumbnailWidth, QueueModel::ThumbnailHeight));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setMouseTracking(true);
    // Rows are not selected here; the table's corner button (select all) is named all the same.
    m_table->setCornerButtonEnabled(false);
    if (auto* corner = m_table->findChild<QAbstractButton*>())
        AccessibleName::setForIconButton(corner, QStringLiteral("全选"));
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(QueueModel::ReasonColumn, QHeaderView::Stretch);
    const int widths[] = {QueueModel::ThumbnailWidth + 12, 80, 110, 80, 56, 0, 40, 64, 84};
    for (int column = 0; column < QueueModel::ColumnCount; ++column) {
        if (widths[column] > 0)
            header->resizeSection(column, widths[column]);
    }
    m_table->setStyleSheet(QStringLiteral("QTableView{border:none;background:white;%1}"
                                          "QHeaderView::section{background:rgba(245,245,245,1);border:none;"
                                          "padding:4px;color:rgba(102,102,102,1);font-size:12px;}")
                               .arg(QString::fromUtf8(kTextStyle)));
    connect(m_table, &QTableView::clicked, this, &QueueWindow::act);
    connect(m_table, &QTableView::entered, this, [this](const QModelIndex& index) {
        m_table->viewport()->setCursor(m_model->isAction(index) ? Qt::PointingHandCursor : Qt::ArrowCursor);
    });
}

void QueueWindow::setTaskTitle(const QString& taskId, const QString& title)
{
    m_model->setTaskTitle(taskId, title);
}

void QueueWindow::setOpenFolder(OpenFolder openFolder)
{
    m_openFolder = std::move(openFolder);
}

void QueueWindow::setQueueState(const QueueState& state)
{
    m_state = state;
    // Rows follow the worker only while the window is open; opening it shows the latest state.
    if (isVisible())
        showState();
}

void QueueWindow::showState()
{
    const QueueState::Summary summary = m_state.summary();
    QString text = summary.fullText.isEmpty() ? QStringLiteral("所有照片都已上传") : summary.fullText;
    const int total = m_state.pending() + m_state.refused();
    if (total > m_state.images.size())
        text += QStringLiteral("\n仅列出前 %1 张，共 %2 张").arg(m_state.images.size()).arg(total);
    m_summaryLabel->setText(text);
    m_model->setActionsHere(m_state.link != QueueState::Link::OtherCopy);
    m_model->setImages(m_state.images);
}

void QueueWindow::act(const QModelIndex& index)
{
    if (!m_model->isAction(index))
        return;
    const QueueState::Image& image = m_model->image(index.row());
    const QString taskId = image.taskId;
    const QString name = image.name;
    switch (index.column()) {
    case QueueModel::RetryColumn:
        m_model->markRequested(index.row(), QStringLiteral("将重新上传"));
        emit retryRequested(taskId, name);
        break;
    case QueueModel::SetAsideColumn:
        m_model->markRequested(index.row(), QStringLiteral("将移到“未上传”文件夹"));
        emit setAsideRequested(taskId, name);
        break;
    case QueueModel::OpenFolderColumn:
        if (m_openFolder)
            m_openFolder(QFileInfo(image.path).absolutePath());
        break;
    default:
        break;
    }
}

void QueueWindow::showEvent(QShowEvent* event)
{
    showState();
    QDialog::showEvent(event);
}
