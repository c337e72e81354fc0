#include "pages/DisplayPhoto.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTimer>
#include <QVBoxLayout>

#include "pages/DisplayPhotoFooter.h"
#include "pages/DisplayPhotoHead.h"
#include "pages/PageStyles.h"
#include "pages/PhotoTableWidgetItem.h"
#include "service/HttpCommunicationThread.h"
#include "widgets/FormLayout.h"

namespace {

constexpr int TileSize = 185;
int loadingInterval = 100;

// Everything a tile shows; the thumbnail file's identity is part of it, so a file fetched anew is shown anew.
QString tileKey(const StudentAnswer& answer)
{
    const QFileInfo thumb(answer.thumbPath);
    return QStringList{answer.thumbPath,
                       QString::number(thumb.exists() ? thumb.size() : -1),
                       QString::number(thumb.exists() ? thumb.lastModified().toMSecsSinceEpoch() : 0),
                       answer.studentName,
                       answer.scoreDesc,
                       answer.warnDesc,
                       QString::number(answer.images.size())}
        .join(QChar(0x1f));
}

QLabel* makeDot(QWidget* parent, const QString& objectName, const QString& colour, Qt::Alignment alignment)
{
    auto* dot = new QLabel(parent);
    dot->setObjectName(objectName);
    dot->setFixedWidth(30);
    dot->setAlignment(alignment);
    dot->setStyleSheet(QStringLiteral("font-size:100px;color:%1;").arg(colour));
    return dot;
}

} // namespace

int DisplayPhoto::loadingTick = 0;

DisplayPhoto::DisplayPhoto(QWidget* parent) : QWidget(parent)
{
    setupUi();
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);

    loadingTimer = new QTimer();
    loadingTimer->setInterval(loadingInterval);
    connect(loadingTimer, SIGNAL(timeout()), this, SLOT(timeout()));
    connect(m_head, SIGNAL(toTakePhoto()), this, SLOT(toTakePhotoUI()));
    connect(m_footer, SIGNAL(toReMakeupPhoto()), this, SLOT(toReMakeupPhotoUi()));
    connect(m_head, SIGNAL(uploadPicStarted()), this, SLOT(toEmitUploadPicStarted()));
    connect(m_footer, SIGNAL(refresh()), this, SLOT(refreshDisplayUi()));
}

DisplayPhoto::~DisplayPhoto()
{
    delete loadingTimer;
}

void DisplayPhoto::setupUi()
{
    setObjectName(QStringLiteral("DisplayPhoto"));
    resize(860, 518);
    setMinimumSize(860, 518);
    setStyleSheet(QStringLiteral("border:0px;background:rgba(10,13,23,1);font-size:80px;color:white"));

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    m_head = new DisplayPhotoHead(this);
    m_head->setObjectName(QStringLiteral("head"));
    m_head->setMinimumSize(860, 45);
    m_head->setMaximumHeight(45);
    layout->addWidget(m_head);

    layout->addLayout(setupLoadingRow());

    m_listWidget = new QListWidget(this);
    m_listWidget->setObjectName(QStringLiteral("listWidget"));
    m_listWidget->setFocusPolicy(Qt::NoFocus);
    m_listWidget->setContextMenuPolicy(Qt::NoContextMenu);
    m_listWidget->setFrameShape(QFrame::NoFrame);
    m_listWidget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_listWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listWidget->setViewMode(QListView::ListMode);
    m_listWidget->setFlow(QListView::LeftToRight);
    m_listWidget->setWrapping(true);
    m_listWidget->setResizeMode(QListView::Adjust);
    m_listWidget->setSpacing(11);
    m_listWidget->setDropIndicatorShown(false);
    m_listWidget->setStyleSheet(QStringLiteral("QListWidget{background:rgba(10,13,23,1);border:0px;}"
                                               "QListWidget::item:hover{background:rgb(10,13,23);}"
                                               "QListWidget::item:selected{background:rgb(10,13,23);}"));
    PageStyles::styleListScrollBar(m_listWidget->verticalScrollBar());
    layout->addWidget(m_listWidget);

    m_footer = new DisplayPhotoFooter(this);
    m_footer->setObjectName(QStringLiteral("footer"));
    m_footer->setMinimumSize(860, 66);
    m_footer->setMaximumHeight(66);
    layout->addWidget(m_footer);

    setLoadingShown(false);
}

// "加载中" and its three dots, centred.
QHBoxLayout* DisplayPhoto::setupLoadingRow()
{
    auto* loadingRow = new QHBoxLayout();
    loadingRow->setObjectName(QStringLiteral("horizontalLayout"));
    loadingRow->setSpacing(0);
    loadingRow->setContentsMargins(9, 0, 9, 9);
    loadingRow->addItem(FormLayout::horizontalSpacer(40, QSizePolicy::Expanding));
    m_loadingText = new QLabel(QStringLiteral("加载中"), this);
    m_loadingText->setObjectName(QStringLiteral("label"));
    m_loadingText->setMinimumSize(0, 0);
    m_loadingText->setAlignment(Qt::AlignCenter);
    m_loadingText->setStyleSheet(
        QStringLiteral("font-size:26px;font-family:'Microsoft YaHei';color:rgba(253,167,56,1);"));
    loadingRow->addWidget(m_loadingText);
    m_dots[0] = makeDot(this, QStringLiteral("label_2"), QStringLiteral("#B8860B"), Qt::AlignLeft | Qt::AlignVCenter);
    m_dots[1] = makeDot(this, QStringLiteral("label_3"), QStringLiteral("#FFFF00"), Qt::AlignLeft | Qt::AlignVCenter);
    m_dots[2] = makeDot(this, QStringLiteral("label_4"), QStringLiteral("#FFFF00"), Qt::AlignLeft | Qt::AlignVCenter);
    for (QLabel* dot : m_dots)
        loadingRow->addWidget(dot);
    loadingRow->addItem(FormLayout::horizontalSpacer(40, QSizePolicy::Expanding));
    return loadingRow;
}

void DisplayPhoto::setTitle(const QString& title)
{
    m_head->setTitle(title);
}

void DisplayPhoto::setTaskFolders(const TaskFolders& folders)
{
    m_head->setTaskFolders(folders);
}

void DisplayPhoto::setLoadingInterval(int ms)
{
    loadingInterval = ms;
}

int DisplayPhoto::loadingTickCount()
{
    return loadingTick;
}

void DisplayPhoto::resetLoadingTick()
{
    loadingTick = 0;
}

void DisplayPhoto::refreshDisplayUi()
{
    // The fetch waits in a local event loop, so the header's import or the main window can ask again meanwhile.
    // Running that request nested would rebuild the grid under the waiting one and fill the page record twice:
    // remember it and run once more when the current refresh is done.
    if (m_refreshing) {
        m_refreshAgain = true;
        return;
    }
    m_refreshing = true;
    do {
        m_refreshAgain = false;
        refreshOnce();
    } while (m_refreshAgain);
    m_refreshing = false;
}

void DisplayPhoto::refreshOnce()
{
    m_listWidget->hide();
    loadingTimer->start();
    setLoadingShown(true);

    HttpCommunicationThread::getPaperStatusWithPage(&paperStatusPage, &paperState);

    if (paperState == AnalysisComplete)
        m_footer->showAllCollected(paperStatusPage.analyseSuccessStudentCount);
    else
        m_footer->showPartlyCollected(paperStatusPage.analyseSuccessStudentCount,
                                      paperStatusPage.unAnalyseSuccessStudentCount);

    m_listWidget->setUpdatesEnabled(false);
    const QList<StudentAnswer>& answers = paperStatusPage.studentAnswers;
    while (m_listWidget->count() > answers.size()) {
        const int last = m_listWidget->count() - 1;
        QWidget* tile = m_listWidget->itemWidget(m_listWidget->item(last));
        delete m_listWidget->takeItem(last);
        // The view only schedules its item widgets for deletion; a refresh inside a long-running loop would pile
        // them up.
        delete tile;
    }
    m_tileKeys = m_tileKeys.mid(0, m_listWidget->count());
    for (int n = 0; n < answers.size(); ++n) {
        const StudentAnswer& answer = answers.at(n);
        // Most refreshes bring the same students back: a tile whose data did not change stays as it is.
        const QString key = tileKey(answer);
        if (n < m_listWidget->count() && m_tileKeys.at(n) == key)
            continue;
        // Built straight inside the list's viewport, where setItemWidget would move it anyway: moving a styled
        // tile re-polishes every label in it, which doubled the cost of a refresh.
        auto* tile = new PhotoTableWidgetItem(answer.thumbPath, answer.studentName, answer.scoreDesc, answer.warnDesc,
                                              answer.images.size(), n, m_listWidget->viewport());
        connect(tile, SIGNAL(indexClicked(int)), this, SLOT(listWidgetClicked(int)));
        if (n < m_listWidget->count()) {
            QListWidgetItem* item = m_listWidget->item(n);
            QWidget* old = m_listWidget->itemWidget(item);
            m_listWidget->setItemWidget(item, tile);
            delete old;
            m_tileKeys[n] = key;
            continue;
        }
        auto* item = new QListWidgetItem();
        item->setSizeHint(QSize(TileSize, TileSize));
        m_listWidget->addItem(item);
        m_listWidget->setItemWidget(item, tile);
        m_tileKeys.append(key);
    }
    m_listWidget->setUpdatesEnabled(true);

    setLoadingShown(false);
    m_listWidget->show();
}

void DisplayPhoto::setLoadingShown(bool shown)
{
    m_loadingText->setVisible(shown);
    for (QLabel* dot : m_dots)
        dot->setVisible(shown);
}

void DisplayPhoto::listWidgetClicked(int index)
{
    if (index < 0 || index >= paperStatusPage.studentAnswers.size())
        return;
    emit toViewPhoto(paperStatusPage.studentAnswers.at(index).images);
}

void DisplayPhoto::timeout()
{
    const int k = loadingTick % 6;
    m_dots[k % 3]->setText(k < 3 ? QStringLiteral(".") : QStringLiteral(" "));
    ++loadingTick;
}

void DisplayPhoto::toEmitUploadPicStarted()
{
    emit uploadPicStarted();
}

void DisplayPhoto::toReMakeupPhotoUi()
{
    emit toReMakeupPhoto();
}

void DisplayPhoto::toTakePhotoUI()
{
    emit toTakePhoto();
}
