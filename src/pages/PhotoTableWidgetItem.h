#pragma once

#include <QWidget>

// One student's tile on the progress page: thumbnail with the page-count badge, name, score text and warning.
// Any mouse press reports the tile's index.
class PhotoTableWidgetItem : public QWidget
{
    Q_OBJECT

public:
    PhotoTableWidgetItem(const QString& thumbPath, const QString& studentName, const QString& scoreDesc,
                         const QString& warnDesc, int imageCount, int index, QWidget* parent = nullptr);

signals:
    void indexClicked(int index);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    int index = 0;
};
