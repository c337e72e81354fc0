#pragma once

#include <QString>

class QGridLayout;
class QHBoxLayout;
class QScrollBar;
class QWidget;

// Looks shared by the workflow pages and their bars: the two button kinds, the list scroll bar, the table columns.
namespace PageStyles {

// The accent gradient button with white text.
QString filledButton(int fontPx = 14);
// The accent outline button with accent text.
QString outlinedButton();
// A button that shows only its icon.
QString iconButton();
// The slim dark vertical scroll bar of the tile grid and the re-take list.
QString listScrollBar();
// Gives a list's vertical scroll bar that look, and hides its handle while there is nothing to scroll.
void styleListScrollBar(QScrollBar* bar);

// The re-take table's columns (spacer, name, pages, reasons, proposals, spacer) in a grid, with the two spacers put
// in: the titles and every row use it, so their columns line up at any width.
void setTableColumns(QGridLayout* grid);
// Room kept on the right of the column titles for the list's scroll bar beneath them.
constexpr int ScrollBarWidth = 16;

// The frame of a page header: 45 high, at least 860 wide, the bar colour with its bottom line (the style keys on
// the class name, since the holding page renames the instance), and the empty horizontal layout to fill.
QHBoxLayout* setUpHeaderBar(QWidget* bar, const QString& className);

} // namespace PageStyles
