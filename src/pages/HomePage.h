#pragma once

#include <QWidget>

#include "core/TaskFolders.h"

class QHBoxLayout;

// The start page: the set-up illustration, the three steps of the work, and the two ways to bring in answer
// sheets (photograph them, or import files scanned elsewhere).
class HomePage : public QWidget
{
    Q_OBJECT

public:
    explicit HomePage(QWidget* parent = nullptr);
    // Where "上传" puts the chosen images.
    void setTaskFolders(const TaskFolders& folders);

signals:
    void startPhoto();
    void uploadPicStarted();
    void uploadPicFinished();

public slots:
    void uploadPng();
    void startPhotoClicked();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setupUi();
    QHBoxLayout* setupSteps();

    TaskFolders m_folders;
};
