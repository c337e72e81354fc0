#include "widgets/AccessibleName.h"

#include <QAbstractButton>

namespace AccessibleName {

void setForIconButton(QAbstractButton* button, const QString& name)
{
    button->setAccessibleName(name);
    button->setToolTip(name);
}

} // namespace AccessibleName
