#include "pages/TableWidgetItem.h"

#include <algorithm>

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "pages/PageStyles.h"

namespace {

QLabel* makeCell(QWidget* parent, const QString& objectName, const QString& text, const QString& colour, bool wrap)
{
    auto* cell = new QLabel(text, parent);
    cell->setObjectName(objectName);
    cell->setAlignment(Qt::AlignCenter);
    cell->setWordWrap(wrap);
    // The columns share the row by their stretch alone, as the column titles do, so both line up.
    cell->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    cell->setStyleSheet(
        QStringLiteral("font-size:14px;font-family:'Microsoft YaHei';color:%1;background:transparent;").arg(colour));
    return cell;
}

} // namespace

TableWidgetItem::TableWidgetItem(const QString& name, const QString& pages, const QString& reasons,
                                 const QString& proposals, int index, QWidget* parent)
    : QWidget(parent), m_index(index)
{
    setObjectName(QStringLiteral("TableWidgetItem"));
    resize(860, 90);
    setStyleSheet(QStringLiteral("background:rgba(10,13,23,1)"));

    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(0);
    outer->setContentsMargins(0, 0, 0, 0);

    // One grid line per failed page, so that a proposal wrapped over two lines keeps its page and reason beside
    // it; each line is as tall as its longest wrapped cell.
    auto* grid = new QGridLayout();
    grid->setObjectName(QStringLiteral("horizontalLayout"));
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(4);
    const QStringList pageLines = pages.split(QLatin1Char('\n'));
    const QStringList reasonLines = reasons.split(QLatin1Char('\n'));
    const QStringList proposalLines = proposals.split(QLatin1Char('\n'));
    const int lines = std::max({pageLines.size(), reasonLines.size(), proposalLines.size()});
    const QString grey = QStringLiteral("rgba(221,221,221,1)");
    grid->addWidget(makeCell(this, QStringLiteral("name"), name, grey, true), 0, 1, lines, 1);
    for (int line = 0; line < lines; ++line) {
        grid->addWidget(makeCell(this, QStringLiteral("code"), pageLines.value(line), grey, false), line, 2);
        grid->addWidget(makeCell(this, QStringLiteral("reason"), reasonLines.value(line),
                                 QStringLiteral("rgba(255,82,82,1)"), true),
                        line, 3);
        grid->addWidget(makeCell(this, QStringLiteral("advice"), proposalLines.value(line), grey, true), line, 4);
    }
    PageStyles::setTableColumns(grid);
    outer->addLayout(grid);

    auto* bottomLine = new QLabel(this);
    bottomLine->setObjectName(QStringLiteral("label"));
    bottomLine->setFixedHeight(5);
    bottomLine->setStyleSheet(QStringLiteral("border-bottom:1px solid #30343E;"));
    outer->addWidget(bottomLine);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);
}

void TableWidgetItem::slotClicked()
{
    emit clickedIndex(m_index);
}
