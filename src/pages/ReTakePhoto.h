#pragma once

#include <QWidget>

// Placeholder: stands in with the members the main window uses until the real widget is built.
class ReTakePhoto : public QWidget
{
    Q_OBJECT

public:
    explicit ReTakePhoto(QWidget* parent = nullptr);
    void reloadStudents();
signals:
    void toDisplayPhoto();
    void toTakePhoto();
    void uploadPicStarted();
public slots:

};
