#include "pages/ReTakePhoto.h"

#include <algorithm>

#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QVBoxLayout>

#include "pages/DisplayPhotoFooterReTake.h"
#include "pages/DisplayPhotoHeadReTake.h"
#include "pages/PageStyles.h"
#include "pages/TableWidgetItem.h"
#include "pages/TableWidgetItemHead.h"
#include "service/HttpCommunicationThread.h"

namespace {

template <typename Field> QString joinLines(const QList<FailImage>& images, Field field)
{
    QStringList lines;
    for (const FailImage& image : images)
        lines << image.*field;
    return lines.join(QLatin1Char('\n'));
}

} // namespace

ReTakePhoto::ReTakePhoto(QWidget* parent) : QWidget(parent)
{
    setupUi();
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);
    m_listWidget->setResizeMode(QListView::Adjust);

    m_head->setTitle(QStringLiteral("补拍信息"));
    m_head->showBack();
    m_footer->setReTakeMode();

    connect(m_head, SIGNAL(back()), this, SLOT(toDisplayPhotoUi()));
    connect(m_footer, SIGNAL(toTakePhoto()), this, SLOT(toTakePhotoUi()));
    connect(m_footer, SIGNAL(uploadPicStarted()), this, SLOT(toEmitUploadPicStarted()));

    PageStyles::styleListScrollBar(m_listWidget->verticalScrollBar());
    m_listWidget->viewport()->installEventFilter(this);
}

void ReTakePhoto::setupUi()
{
    setObjectName(QStringLiteral("ReTakePhoto"));
    resize(860, 518);
    setMinimumSize(860, 518);
    setMaximumSize(8609000, 5180000);
    setStyleSheet(QStringLiteral("background:rgba(42,46,58,1);"));
    setAccessibleDescription(QStringLiteral("border:0px"));

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    m_head = new DisplayPhotoHeadReTake(this);
    m_head->setObjectName(QStringLiteral("head"));
    m_head->setFixedHeight(45);
    layout->addWidget(m_head);

    auto* band = new QLabel(this);
    band->setObjectName(QStringLiteral("label"));
    band->setFixedHeight(33);
    band->setStyleSheet(QStringLiteral("background:rgba(10,13,23,1);"));
    layout->addWidget(band);

    auto* titles = new TableWidgetItemHead(this);
    titles->setObjectName(QStringLiteral("widget"));
    titles->setMinimumSize(860, 45);
    titles->setFixedHeight(45);
    layout->addWidget(titles);

    m_listWidget = new QListWidget(this);
    m_listWidget->setObjectName(QStringLiteral("listWidget"));
    m_listWidget->setMinimumSize(860, 330);
    m_listWidget->setFocusPolicy(Qt::NoFocus);
    m_listWidget->setFrameShape(QFrame::NoFrame);
    m_listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always there, in the list's own colour: the column titles above keep its width free, so they line up with
    // the rows whether the list is long or short.
    m_listWidget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_listWidget->setSelectionMode(QAbstractItemView::NoSelection);
    m_listWidget->setEditTriggers(QAbstractItemView::EditKeyPressed);
    m_listWidget->setStyleSheet(QStringLiteral("QListWidget{background:rgba(10,13,23,1);border:0px;}"));
    layout->addWidget(m_listWidget);

    m_footer = new DisplayPhotoFooterReTake(this);
    m_footer->setObjectName(QStringLiteral("footer"));
    m_footer->setMinimumHeight(66);
    layout->addWidget(m_footer);
}

void ReTakePhoto::setTaskFolders(const TaskFolders& folders)
{
    m_footer->setTaskFolders(folders);
}

void ReTakePhoto::reloadStudents()
{
    // Fetch into a list of our own: the call waits in a local event loop, and a second reload started meanwhile
    // must not append to the list this one is filling.
    QList<ReplenishStudent> fetched;
    HttpCommunicationThread::getReplenishStudents(fetched);
    students = fetched;

    while (m_listWidget->count() > 0) {
        QWidget* row = m_listWidget->itemWidget(m_listWidget->item(0));
        delete m_listWidget->takeItem(0);
        delete row;
    }
    for (int i = 0; i < students.size(); ++i) {
        const ReplenishStudent& student = students.at(i);
        auto* row = new TableWidgetItem(student.realName, joinLines(student.images, &FailImage::page),
                                        joinLines(student.images, &FailImage::failReason),
                                        joinLines(student.images, &FailImage::proposals), i);
        auto* item = new QListWidgetItem();
        m_listWidget->addItem(item);
        m_listWidget->setItemWidget(item, row);
        connect(row, SIGNAL(clickedIndex(int)), this, SLOT(itemClicked(int)));
    }
    sizeRows();
}

void ReTakePhoto::sizeRows()
{
    // As wide as the list shows and as tall as the row's wrapped text needs, at least 20 px a page and 40 more.
    const int width = m_listWidget->viewport()->width();
    for (int i = 0; i < m_listWidget->count(); ++i) {
        QListWidgetItem* item = m_listWidget->item(i);
        QWidget* row = m_listWidget->itemWidget(item);
        // The cells' fonts come from their style sheets: measure with those.
        if (row)
            row->ensurePolished();
        const int pages = i < students.size() ? students.at(i).images.size() : 0;
        const int height = std::max(20 * pages + 40, row ? row->heightForWidth(width) : 0);
        item->setSizeHint(QSize(width, height));
    }
}

bool ReTakePhoto::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_listWidget->viewport() && event->type() == QEvent::Resize)
        sizeRows();
    return QWidget::eventFilter(watched, event);
}

void ReTakePhoto::toEmitUploadPicStarted()
{
    emit uploadPicStarted();
}

void ReTakePhoto::itemClicked(int) {}

void ReTakePhoto::toDisplayPhotoUi()
{
    emit toDisplayPhoto();
}

void ReTakePhoto::toTakePhotoUi()
{
    emit toTakePhoto();
}
