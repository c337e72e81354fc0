#pragma once

class QAbstractButton;
class QString;

// A button that shows only an icon says what it does through its accessible name (read by screen readers) and the
// same text as its tooltip.
namespace AccessibleName {

void setForIconButton(QAbstractButton* button, const QString& name);

} // namespace AccessibleName
