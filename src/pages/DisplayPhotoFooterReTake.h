#pragma once

#include <QWidget>

#include "core/TaskFolders.h"

class QLabel;
class QPushButton;

// Footer bar of the re-take page: the hint and the two ways to add the re-taken sheets.
class DisplayPhotoFooterReTake : public QWidget
{
    Q_OBJECT

public:
    explicit DisplayPhotoFooterReTake(QWidget* parent = nullptr);
    void setReTakeMode();
    // Where "上传" puts the chosen images.
    void setTaskFolders(const TaskFolders& folders);

signals:
    void toTakePhoto();
    void uploadPicStarted();

public slots:
    void slotTakePhoto();
    void uploadPng();

private:
    QLabel* m_hint = nullptr;
    QPushButton* m_takePhoto = nullptr;
    TaskFolders m_folders;
};
