#include "widgets/MyMessageBox.h"

#include <QHBoxLayout>
#include <QLabel>

#include "widgets/ResourcePixmap.h"

MyMessageBox::MyMessageBox(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MyMessageBox"));
    setFixedSize(246, 54);
    // The box draws itself as one rounded shape; unscoped, the rule would give each label rounded corners of its
    // own, leaving notches where icon and text meet.
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#MyMessageBox{background:rgba(255,255,255,255);\nborder-radius:4px;}"));
    setWindowTitle(QStringLiteral("Form"));
    setWindowOpacity(0.7);

    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    m_iconLabel = new QLabel(this);
    m_iconLabel->setObjectName(QStringLiteral("iconLabel"));
    m_iconLabel->setFixedSize(66, 54);
    m_iconLabel->setPixmap(ResourcePixmap::load(QStringLiteral(":/AmbrelClient/Resources/ic_normal_hint.png")));
    m_iconLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_iconLabel);

    m_textLabel = new QLabel(this);
    m_textLabel->setObjectName(QStringLiteral("textLabel"));
    m_textLabel->setFixedSize(180, 54);
    m_textLabel->setStyleSheet(QStringLiteral("font-family:\"Microsoft YaHei\";font-size:16px;font-weight:400;"
                                              "color:rgba(51,51,51,1);line-height:22px;"));
    m_textLabel->setText(QStringLiteral("已经是第一张图片"));
    layout->addWidget(m_textLabel);
}

void MyMessageBox::setText(const QString& text)
{
    m_textLabel->setText(text);
}

QString MyMessageBox::text() const
{
    return m_textLabel->text();
}
