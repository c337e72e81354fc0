#pragma once

#include <QStringList>
#include <QWidget>

class QHBoxLayout;
class QListWidget;
class QPushButton;

// The horizontal strip of thumbnails under the camera preview. Row r of the list shows files[r].
class SliderImageList : public QWidget
{
    Q_OBJECT

public:
    explicit SliderImageList(QWidget* parent = nullptr);

    // Appends the folder's JPEG and BMP images, sorted by name; folder ends with a separator.
    void loadFolder(const QString& folder);
    void addImage(const QString& filePath);

    QStringList imageFiles() const { return files; }

signals:
    void displayImage(QString filePath);

public slots:
    void leftMove();
    void rightMove();
    void listWidgetClicked(int index);

private:
    void setupUi();
    void appendThumbnail(const QString& filePath);

    QHBoxLayout* horizontalLayout = nullptr;
    QPushButton* pushButton = nullptr;
    QListWidget* listWidget = nullptr;
    QPushButton* pushButton_2 = nullptr;

    QString folder;
    QStringList files;
};
