#pragma once

#include <QWidget>

// One row of the re-take list: the student, the problem pages, the reasons and the proposals, one line per page.
class TableWidgetItem : public QWidget
{
    Q_OBJECT

public:
    TableWidgetItem(const QString& name, const QString& pages, const QString& reasons, const QString& proposals,
                    int index, QWidget* parent = nullptr);

signals:
    void clickedIndex(int index);

public slots:
    void slotClicked();

private:
    int m_index = 0;
};
