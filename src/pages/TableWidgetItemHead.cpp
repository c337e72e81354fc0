#include "pages/TableWidgetItemHead.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpacerItem>

TableWidgetItemHead::TableWidgetItemHead(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form"));
    resize(860, 45);
    setMinimumSize(860, 45);
    setStyleSheet(QStringLiteral("background:rgba(42,46,58,1);"));

    auto* layout = new QHBoxLayout(this);
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    layout->setSpacing(10);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addItem(new QSpacerItem(20, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));

    const struct
    {
        const char* objectName;
        QString text;
        int stretch;
    } columns[] = {
        {"label", QStringLiteral("姓名"), 1},
        {"label_2", QStringLiteral("问题页码"), 1},
        {"label_3", QStringLiteral("问题原因"), 2},
        {"label_4", QStringLiteral("处理建议"), 2},
    };
    for (const auto& column : columns) {
        auto* label = new QLabel(column.text, this);
        label->setObjectName(QLatin1String(column.objectName));
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(QStringLiteral("font-size:16px;font-family:'Microsoft YaHei';color:white;"));
        if (qstrcmp(column.objectName, "label_3") == 0)
            label->setMinimumWidth(200);
        layout->addWidget(label, column.stretch);
    }
    layout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);
}
