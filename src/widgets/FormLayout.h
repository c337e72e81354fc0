#pragma once

#include <QSizePolicy>

class QBoxLayout;
class QPushButton;
class QSize;
class QSpacerItem;
class QString;
class QWidget;

// Form helpers the pages, the capture page, the viewer and the shell share: spacers and the plain pointing button.
namespace FormLayout {

// A spacer that takes width horizontally (fixed or expanding) and no more than it needs vertically.
QSpacerItem* horizontalSpacer(int width, QSizePolicy::Policy policy = QSizePolicy::Fixed, int height = 20);
// A spacer that takes height vertically (expanding or fixed) and no more than it needs horizontally.
QSpacerItem* verticalSpacer(int height = 40, QSizePolicy::Policy policy = QSizePolicy::Expanding, int width = 20);

void addFixedSpacer(QBoxLayout* layout, int width, int height = 20);
void addExpandingSpacer(QBoxLayout* layout, int width = 40, int height = 20);

// A button of one fixed size with the pointing-hand cursor and its own style sheet.
QPushButton* makeButton(QWidget* parent, const QString& objectName, const QSize& size, const QString& style);

} // namespace FormLayout
