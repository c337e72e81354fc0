#pragma once

#include <QWidget>

// Placeholder: stands in with the members the main window uses until the real widget is built.
class Tips : public QWidget
{
    Q_OBJECT

public:
    explicit Tips(QWidget* parent = nullptr);

signals:

public slots:

};
