#pragma once

#include <QWidget>

// Placeholder: stands in with the members the main window uses until the real widget is built.
class HomePage : public QWidget
{
    Q_OBJECT

public:
    explicit HomePage(QWidget* parent = nullptr);

signals:
    void startPhoto();
    void uploadPicStarted();
public slots:

};
