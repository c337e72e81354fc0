#pragma once

#include <utility>

#include <QStringList>
#include <QWidget>

#include "service/ServiceRecords.h"

class DisplayPhotoFooter;
class TaskFolders;
class DisplayPhotoHead;
class QHBoxLayout;
class QLabel;
class QListWidget;
class QTimer;

// The progress and results page: one tile per analysed student, the collection summary in the footer, and the
// ways to add images in the header. Fetches when shown and when the teacher asks for a refresh.
class DisplayPhoto : public QWidget
{
    Q_OBJECT

public:
    explicit DisplayPhoto(QWidget* parent = nullptr);
    ~DisplayPhoto() override;
    void setTitle(const QString& title);
    // Where the header's "上传" puts the chosen images.
    void setTaskFolders(const TaskFolders& folders);

    // Tests: the loading animation's step interval for pages built afterwards (100 ms in the product), and the
    // process-wide step counter.
    static void setLoadingInterval(int ms);
    static int loadingTickCount();
    static void resetLoadingTick();

signals:
    void uploadPicStarted();
    void toReMakeupPhoto();
    void toTakePhoto();
    void toViewPhoto(const QList<std::pair<QString, QString>>);

public slots:
    void refreshDisplayUi();
    void listWidgetClicked(int index);
    void timeout();
    void toEmitUploadPicStarted();
    void toReMakeupPhotoUi();
    void toTakePhotoUI();

private:
    void setupUi();
    QHBoxLayout* setupLoadingRow();
    void refreshOnce();
    void setLoadingShown(bool shown);

    DisplayPhotoHead* m_head = nullptr;
    DisplayPhotoFooter* m_footer = nullptr;
    QListWidget* m_listWidget = nullptr;
    QLabel* m_loadingText = nullptr;
    QLabel* m_dots[3] = {};

    PaperStatusPage paperStatusPage;
    int paperState = 0;
    QTimer* loadingTimer = nullptr;
    static int loadingTick;

    // What each tile of the grid shows, by row, so that a refresh keeps the tiles that stay the same.
    QStringList m_tileKeys;
    bool m_refreshing = false;
    bool m_refreshAgain = false;
};
