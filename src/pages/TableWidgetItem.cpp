#include "pages/TableWidgetItem.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

QLabel* makeCell(QWidget* parent, const QString& objectName, const QString& text, const QString& colour, bool wrap)
{
    auto* cell = new QLabel(text, parent);
    cell->setObjectName(objectName);
    cell->setAlignment(Qt::AlignCenter);
    cell->setWordWrap(wrap);
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
    setMinimumWidth(860);
    setStyleSheet(QStringLiteral("background:rgba(10,13,23,1)"));

    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(0);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout();
    row->setObjectName(QStringLiteral("horizontalLayout"));
    row->setSpacing(10);
    row->addItem(new QSpacerItem(20, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    const QString grey = QStringLiteral("rgba(221,221,221,1)");
    row->addWidget(makeCell(this, QStringLiteral("name"), name, grey, true), 1);
    row->addWidget(makeCell(this, QStringLiteral("code"), pages, grey, false), 1);
    auto* reason = makeCell(this, QStringLiteral("reason"), reasons, QStringLiteral("rgba(255,82,82,1)"), true);
    reason->setMinimumWidth(200);
    row->addWidget(reason, 2);
    row->addWidget(makeCell(this, QStringLiteral("advice"), proposals, grey, true), 2);
    row->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    outer->addLayout(row);

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
