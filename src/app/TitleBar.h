#pragma once

#include <QWidget>

// Placeholder: stands in with the members the main window uses until the real widget is built.
class TitleBar : public QWidget
{
    Q_OBJECT

public:
    explicit TitleBar(QWidget* parent = nullptr);

signals:

public slots:

};
