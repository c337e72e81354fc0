#pragma once

#include <memory>

#include <QHash>
#include <QStringList>
#include <QWidget>

class QHBoxLayout;
class QImage;
class QListWidget;
class QPushButton;

// The horizontal strip of thumbnails under the camera preview. Row r of the list shows files[r].
class SliderImageList : public QWidget
{
    Q_OBJECT

public:
    explicit SliderImageList(QWidget* parent = nullptr);
    ~SliderImageList() override;

    // Appends the folder's JPEG and BMP images, sorted by name; folder ends with a separator. The cells are there
    // at once; their thumbnails are decoded on the thread pool and shown as they arrive.
    void loadFolder(const QString& folder);
    void addImage(const QString& filePath);

    QStringList imageFiles() const { return files; }
    // Marks the cell of filePath with a warning sign; reason becomes its tooltip.
    void setWarning(const QString& filePath, const QString& reason);

signals:
    void displayImage(QString filePath);

public slots:
    void leftMove();
    void rightMove();
    void listWidgetClicked(int index);

private:
    struct Delivery;

    void setupUi();
    int appendCell();
    void showThumbnail(int row, const QImage& thumbnail);

    QHBoxLayout* horizontalLayout = nullptr;
    QPushButton* pushButton = nullptr;
    QListWidget* listWidget = nullptr;
    QPushButton* pushButton_2 = nullptr;

    QString folder;
    QStringList files;
    QHash<int, QString> warnings; // row → reason
    bool followNewest = false;    // a photograph was added: the end of the strip stays in view
    std::shared_ptr<Delivery> delivery;
};
