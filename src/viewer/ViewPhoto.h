#pragma once

#include <utility>

#include <QRect>
#include <QSize>
#include <QWidget>

class MyLabel;
class MyMessageBox;
class QLabel;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;
class ViewPhotoHead;

// The large photo viewer laid over the main window: one student's pages one at a time, with paging, zoom, rotation,
// dragging (in the image label) and a full-screen mode of its own.
class ViewPhoto : public QWidget
{
    Q_OBJECT

public:
    explicit ViewPhoto(QWidget* parent = nullptr);

    // Fetches the student's pages from the service and shows the first.
    void loadStudent(const QString& studentId);

signals:
    void closeViewPhotoUi();

public slots:
    void setPhotoPath(const QList<std::pair<QString, QString>>);
    void leftToViewPhoto();
    void rightToViewPhoto();
    void closeViewPhoto();
    void quanPing();
    void exitQuanPing();
    void slotCurrentSize(int width, int height);
    void setVisible(bool visible) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void setupUi();
    // The tool bar, the warning strip, the image and its page-range caption.
    QVBoxLayout* setupMiddleColumn(const QString& resources);
    QVBoxLayout* setupRightColumn(const QString& resources);
    void showPage(int index);
    void showFirstPage();
    void fitImage();
    void showHint(const QString& text);
    void enterFullScreen();
    void leaveFullScreen(bool showAfter);

    QList<std::pair<QString, QString>> pages;
    int currentIndex = 0;
    int viewMode = 1;
    QRect savedGeometry;
    int imageWidth = 0;
    int imageHeight = 0;
    QString studentId;
    MyMessageBox* hintBox = nullptr;

    QPushButton* pushButton = nullptr;
    QPushButton* leftButton = nullptr;
    QPushButton* rightButton = nullptr;
    ViewPhotoHead* widget = nullptr;
    QLabel* label_4 = nullptr;
    MyLabel* label = nullptr;
    QLabel* label_2 = nullptr;
    QVBoxLayout* m_leftColumn = nullptr;
    QSpacerItem* m_bottomSpacer = nullptr;

    // The main window fixes the viewer's size; full screen lifts those limits and leaving puts them back.
    QSize m_savedMinimumSize;
    QSize m_savedMaximumSize;
};
