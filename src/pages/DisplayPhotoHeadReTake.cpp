#include "pages/DisplayPhotoHeadReTake.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "pages/PageStyles.h"
#include "widgets/AccessibleName.h"
#include "widgets/FormLayout.h"

DisplayPhotoHeadReTake::DisplayPhotoHeadReTake(QWidget* parent) : QWidget(parent)
{
    QHBoxLayout* layout = PageStyles::setUpHeaderBar(this, QStringLiteral("DisplayPhotoHeadReTake"));

    FormLayout::addFixedSpacer(layout, 24);
    m_back = FormLayout::makeButton(this, QStringLiteral("back"), QSize(22, 19), PageStyles::iconButton());
    AccessibleName::setForIconButton(m_back, QStringLiteral("返回"));
    m_back->setIcon(QIcon(QStringLiteral(":/AmbrelClient/Resources/return.png")));
    m_back->setIconSize(QSize(22, 19));
    layout->addWidget(m_back);
    FormLayout::addExpandingSpacer(layout);
    m_title = new QLabel(QStringLiteral("TextLabel"), this);
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setStyleSheet(QStringLiteral("font-size:18px;font-family:'Microsoft YaHei';color:rgba(221,221,221,1);"
                                          "background:transparent;border:0px;"));
    layout->addWidget(m_title);
    FormLayout::addExpandingSpacer(layout);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);
    m_back->hide();

    connect(m_back, SIGNAL(clicked()), this, SLOT(slotBack()));
}

void DisplayPhotoHeadReTake::setTitle(const QString& title)
{
    m_title->setText(title);
}

void DisplayPhotoHeadReTake::showBack()
{
    m_back->show();
}

void DisplayPhotoHeadReTake::slotBack()
{
    emit back();
}
