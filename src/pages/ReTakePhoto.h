#pragma once

#include <utility>

#include <QWidget>

#include "service/ServiceRecords.h"

class DisplayPhotoFooterReTake;
class DisplayPhotoHeadReTake;
class QListWidget;
class TaskFolders;

// The re-take page: the students whose sheets the service could not analyse, with the problem pages, reasons and
// proposals, so that the teacher fixes and photographs them again.
class ReTakePhoto : public QWidget
{
    Q_OBJECT

public:
    explicit ReTakePhoto(QWidget* parent = nullptr);
    void reloadStudents();
    // Where the footer's "上传" puts the chosen images.
    void setTaskFolders(const TaskFolders& folders);

signals:
    void uploadPicStarted();
    void toDisplayPhoto();
    void toTakePhoto();
    void toViewPhoto(const QList<std::pair<QString, QString>>);

public slots:
    void toEmitUploadPicStarted();
    void itemClicked(int index);
    void toDisplayPhotoUi();
    void toTakePhotoUi();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupUi();
    void sizeRows();

    DisplayPhotoHeadReTake* m_head = nullptr;
    DisplayPhotoFooterReTake* m_footer = nullptr;
    QListWidget* m_listWidget = nullptr;
    QList<ReplenishStudent> students;
};
