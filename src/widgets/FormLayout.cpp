#include "widgets/FormLayout.h"

#include <QBoxLayout>
#include <QPushButton>
#include <QSpacerItem>

namespace FormLayout {

QSpacerItem* horizontalSpacer(int width, QSizePolicy::Policy policy, int height)
{
    return new QSpacerItem(width, height, policy, QSizePolicy::Minimum);
}

QSpacerItem* verticalSpacer(int height, QSizePolicy::Policy policy, int width)
{
    return new QSpacerItem(width, height, QSizePolicy::Minimum, policy);
}

void addFixedSpacer(QBoxLayout* layout, int width, int height)
{
    layout->addItem(horizontalSpacer(width, QSizePolicy::Fixed, height));
}

void addExpandingSpacer(QBoxLayout* layout, int width, int height)
{
    layout->addItem(horizontalSpacer(width, QSizePolicy::Expanding, height));
}

QPushButton* makeButton(QWidget* parent, const QString& objectName, const QSize& size, const QString& style)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setFixedSize(size);
    button->setStyleSheet(style);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace FormLayout
