#include "pages/DisplayPhotoFooter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "pages/PageStyles.h"
#include "widgets/AccessibleName.h"
#include "widgets/FormLayout.h"
#include "widgets/ResourcePixmap.h"

namespace {

QLabel* makeCountLabel(QWidget* parent, const QString& objectName, const QString& colour)
{
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setStyleSheet(QStringLiteral("font-size:14px;font-family:'Microsoft YaHei';font-weight:500;color:%1;"
                                        "background:transparent;")
                             .arg(colour));
    return label;
}

} // namespace

DisplayPhotoFooter::DisplayPhotoFooter(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("DisplayPhotoFooter"));
    resize(860, 66);
    setMinimumWidth(860);
    setFixedHeight(66);
    setStyleSheet(QStringLiteral("DisplayPhotoFooter{background:rgba(10,13,23,1);}"));

    auto* layout = new QHBoxLayout(this);
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    FormLayout::addFixedSpacer(layout, 29);
    layout->addLayout(setupRefreshColumn());

    FormLayout::addExpandingSpacer(layout, 502);
    auto* notice = new QLabel(this);
    notice->setObjectName(QStringLiteral("label_7"));
    notice->setPixmap(ResourcePixmap::load(QStringLiteral(":/AmbrelClient/Resources/icon.png")));
    layout->addWidget(notice);
    m_collected = makeCountLabel(this, QStringLiteral("label_3"), QStringLiteral("white"));
    layout->addWidget(m_collected);
    m_notCollected = makeCountLabel(this, QStringLiteral("label_5"), QStringLiteral("rgba(255,82,82,1)"));
    layout->addWidget(m_notCollected);
    m_closing = makeCountLabel(this, QStringLiteral("label"), QStringLiteral("white"));
    layout->addWidget(m_closing);
    auto* accentText = makeCountLabel(this, QStringLiteral("label_8"), QStringLiteral("#FDBE38"));
    layout->addWidget(accentText);
    m_done = new QLabel(this);
    m_done->setObjectName(QStringLiteral("label_6"));
    m_done->setFixedSize(24, 24);
    m_done->setScaledContents(true);
    m_done->setStyleSheet(QStringLiteral("background:transparent;"));
    m_done->setPixmap(ResourcePixmap::load(QStringLiteral(":/AmbrelClient/Resources/wancheng.png")));
    layout->addWidget(m_done);
    FormLayout::addFixedSpacer(layout, 20);
    m_processNow =
        FormLayout::makeButton(this, QStringLiteral("pushButton"), QSize(100, 36), PageStyles::filledButton(12));
    m_processNow->setText(QStringLiteral("立即处理"));
    layout->addWidget(m_processNow);
    FormLayout::addFixedSpacer(layout, 24);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);
    notice->hide();
    accentText->hide();
    m_collected->hide();
    m_notCollected->hide();
    m_closing->hide();
    m_done->hide();

    connect(m_refresh, SIGNAL(clicked()), this, SLOT(slotRefresh()));
    connect(m_processNow, SIGNAL(clicked()), this, SLOT(toReMakeupUI()));
}

// The refresh button with its caption beneath.
QVBoxLayout* DisplayPhotoFooter::setupRefreshColumn()
{
    auto* refreshColumn = new QVBoxLayout();
    refreshColumn->setObjectName(QStringLiteral("verticalLayout"));
    refreshColumn->setSpacing(0);
    refreshColumn->addItem(FormLayout::verticalSpacer());
    auto* refreshRow = new QHBoxLayout();
    refreshRow->setObjectName(QStringLiteral("horizontalLayout_2"));
    refreshRow->setSpacing(0);
    FormLayout::addFixedSpacer(refreshRow, 24);
    m_refresh = FormLayout::makeButton(this, QStringLiteral("refresh"), QSize(22, 19), PageStyles::iconButton());
    AccessibleName::setForIconButton(m_refresh, QStringLiteral("刷新"));
    m_refresh->setIcon(QIcon(QStringLiteral(":/AmbrelClient/Resources/shuaxin.png")));
    m_refresh->setIconSize(QSize(22, 19));
    refreshRow->addWidget(m_refresh);
    FormLayout::addFixedSpacer(refreshRow, 24);
    refreshColumn->addLayout(refreshRow);
    auto* refreshText = new QLabel(QStringLiteral("点击刷新"), this);
    refreshText->setObjectName(QStringLiteral("label_2"));
    refreshText->setFixedWidth(70);
    refreshText->setAlignment(Qt::AlignCenter);
    refreshText->setStyleSheet(QStringLiteral("font-size:14px;font-family:'Microsoft YaHei';color:white;"
                                              "background:transparent;"));
    refreshColumn->addWidget(refreshText);
    refreshColumn->addItem(FormLayout::verticalSpacer());
    return refreshColumn;
}

void DisplayPhotoFooter::showAllCollected(int collected)
{
    m_refresh->setEnabled(true);
    m_collected->hide();
    m_notCollected->hide();
    m_closing->setText(QString::number(collected) + QStringLiteral("名学生已全部完成采集"));
    m_closing->show();
    m_done->show();
    m_processNow->hide();
}

void DisplayPhotoFooter::showPartlyCollected(int collected, int notCollected)
{
    m_refresh->setEnabled(true);
    m_collected->setText(QString::number(collected) + QStringLiteral("名学生已完成采集，"));
    m_collected->show();
    m_notCollected->setText(QString::number(notCollected) + QStringLiteral("名学生"));
    m_notCollected->show();
    m_closing->setText(QStringLiteral("未成功采集，查看名单并处理"));
    m_closing->show();
    m_done->hide();
    m_processNow->show();
}

void DisplayPhotoFooter::slotRefresh()
{
    m_refresh->setEnabled(false);
    emit refresh();
}

void DisplayPhotoFooter::toReMakeupUI()
{
    emit toReMakeupPhoto();
}
