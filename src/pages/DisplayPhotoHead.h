#pragma once

#include <QWidget>

class ElidedLabel;

// Header bar of the progress page: the task title and the two ways to add images (take photos, import files).
class DisplayPhotoHead : public QWidget
{
    Q_OBJECT

public:
    explicit DisplayPhotoHead(QWidget* parent = nullptr);
    void setTitle(const QString& title);

signals:
    void toTakePhoto();
    void uploadPicStarted();

public slots:
    void slotTakePhoto();
    void uploadPng();

private:
    ElidedLabel* m_title = nullptr;
};
