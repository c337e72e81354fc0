#pragma once

#include <QWidget>

// Column titles of the re-take list: name, problem pages, reasons, proposals.
class TableWidgetItemHead : public QWidget
{
    Q_OBJECT

public:
    explicit TableWidgetItemHead(QWidget* parent = nullptr);
};
