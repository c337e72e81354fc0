#pragma once

#include <QWidget>

// Placeholder: stands in with the members the main window uses until the real widget is built.
class TakePhoto : public QWidget
{
    Q_OBJECT

public:
    explicit TakePhoto(QWidget* parent = nullptr);
    void initTaskFolder(const QString& taskId);
signals:
    void finishPhoto();
public slots:
    void startPNG();
};
