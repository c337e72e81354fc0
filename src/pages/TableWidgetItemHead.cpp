#include "pages/TableWidgetItemHead.h"

#include <QGridLayout>
#include <QLabel>

#include "pages/PageStyles.h"

TableWidgetItemHead::TableWidgetItemHead(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form"));
    resize(860, 45);
    setMinimumSize(860, 45);
    setStyleSheet(QStringLiteral("background:rgba(42,46,58,1);"));

    auto* layout = new QGridLayout(this);
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    layout->setHorizontalSpacing(10);

    const struct
    {
        const char* objectName;
        QString text;
    } columns[] = {
        {"label", QStringLiteral("姓名")},
        {"label_2", QStringLiteral("问题页码")},
        {"label_3", QStringLiteral("问题原因")},
        {"label_4", QStringLiteral("处理建议")},
    };
    int column = 1;
    for (const auto& title : columns) {
        auto* label = new QLabel(title.text, this);
        label->setObjectName(QLatin1String(title.objectName));
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(QStringLiteral("font-size:16px;font-family:'Microsoft YaHei';color:white;"));
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        layout->addWidget(label, 0, column++);
    }
    PageStyles::setTableColumns(layout);
    // The rows below end at the list's scroll bar: end the titles there too.
    layout->setContentsMargins(0, 0, PageStyles::ScrollBarWidth, 0);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);
}
