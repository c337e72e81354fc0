#pragma once

#include <QWidget>

#include "core/TaskFolders.h"

class ElidedLabel;

// Header bar of the progress page: the task title and the two ways to add images (take photos, import files).
class DisplayPhotoHead : public QWidget
{
    Q_OBJECT

public:
    explicit DisplayPhotoHead(QWidget* parent = nullptr);
    void setTitle(const QString& title);
    // Where "上传" puts the chosen images.
    void setTaskFolders(const TaskFolders& folders);

signals:
    void toTakePhoto();
    void uploadPicStarted();

public slots:
    void slotTakePhoto();
    void uploadPng();

private:
    ElidedLabel* m_title = nullptr;
    TaskFolders m_folders;
};
