#include "viewer/ViewPhotoHead.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "widgets/AccessibleName.h"
#include "widgets/FormLayout.h"

namespace {

QPushButton* makeIconButton(QWidget* parent, const char* name, const QString& iconPath, const QSize& iconSize)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(QIcon(iconPath));
    button->setIconSize(iconSize);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

ViewPhotoHead::ViewPhotoHead(QWidget* parent) : QWidget(parent)
{
    setupUi();
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);

    connect(m_fangda, &QPushButton::clicked, this, &ViewPhotoHead::slotFangda);
    connect(m_suoxiao, &QPushButton::clicked, this, &ViewPhotoHead::slotSuoxiao);
    connect(m_guanbi, &QPushButton::clicked, this, &ViewPhotoHead::slotClose);
    connect(m_quanping, &QPushButton::clicked, this, &ViewPhotoHead::slotQuanping);
    connect(m_xuanzhuan, &QPushButton::clicked, this, &ViewPhotoHead::slotXuanzhuan);
}

void ViewPhotoHead::setupUi()
{
    setObjectName(QStringLiteral("ViewPhotoHead"));
    resize(330, 42);
    setMaximumSize(330, 42);
    setStyleSheet(QStringLiteral("background:white"));

    auto* layout = new QHBoxLayout(this);
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    const QString resources = QStringLiteral(":/AmbrelClient/Resources/");

    layout->addItem(FormLayout::horizontalSpacer(92, QSizePolicy::Expanding));

    m_quanping = makeIconButton(this, "quanping", resources + QStringLiteral("quanping.png"), QSize(17, 18));
    AccessibleName::setForIconButton(m_quanping, QStringLiteral("全屏"));
    m_quanping->setMaximumSize(17, 18);
    layout->addWidget(m_quanping);

    layout->addItem(FormLayout::horizontalSpacer(24, QSizePolicy::Fixed, 24));

    m_fangda = makeIconButton(this, "fangda", resources + QStringLiteral("fangda.png"), QSize(22, 23));
    AccessibleName::setForIconButton(m_fangda, QStringLiteral("放大"));
    m_fangda->setMaximumSize(22, 23);
    m_fangda->setStyleSheet(QStringLiteral("border-radius:10px"));
    layout->addWidget(m_fangda);

    layout->addItem(FormLayout::horizontalSpacer(24));

    m_suoxiao = makeIconButton(this, "suoxiao", resources + QStringLiteral("suoxiao.png"), QSize(22, 23));
    AccessibleName::setForIconButton(m_suoxiao, QStringLiteral("缩小"));
    m_suoxiao->setMaximumSize(22, 23);
    m_suoxiao->setStyleSheet(QStringLiteral("border-radius:10px"));
    layout->addWidget(m_suoxiao);

    layout->addItem(FormLayout::horizontalSpacer(24));

    m_xuanzhuan = makeIconButton(this, "xuanzhuan", resources + QStringLiteral("xuanzhuan.png"), QSize(19, 22));
    AccessibleName::setForIconButton(m_xuanzhuan, QStringLiteral("旋转"));
    m_xuanzhuan->setFixedSize(19, 22);
    layout->addWidget(m_xuanzhuan);

    layout->addItem(FormLayout::horizontalSpacer(60, QSizePolicy::Expanding));

    auto* closeColumn = new QVBoxLayout();
    closeColumn->setObjectName(QStringLiteral("verticalLayout"));
    m_guanbi = makeIconButton(this, "guanbi", resources + QStringLiteral("close.png"), QSize(12, 12));
    AccessibleName::setForIconButton(m_guanbi, QStringLiteral("关闭"));
    m_guanbi->setFixedSize(32, 32);
    m_guanbi->setStyleSheet(QStringLiteral("background-color:rgba(0,0,0,0.6); "
                                           "border-bottom-left-radius:32px;padding-bottom:5px;padding-left:5px"));
    closeColumn->addWidget(m_guanbi);
    closeColumn->addItem(FormLayout::verticalSpacer());
    layout->addLayout(closeColumn);
}

void ViewPhotoHead::slotFangda()
{
    emit fangda();
}

void ViewPhotoHead::slotSuoxiao()
{
    emit suoxiao();
}

void ViewPhotoHead::slotQuanping()
{
    emit quanping();
}

void ViewPhotoHead::slotClose()
{
    emit close();
}

void ViewPhotoHead::slotXuanzhuan()
{
    emit xuanzhuan();
}
