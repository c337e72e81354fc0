#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// Header bar of the re-take page: the title and the way back to the progress page.
class DisplayPhotoHeadReTake : public QWidget
{
    Q_OBJECT

public:
    explicit DisplayPhotoHeadReTake(QWidget* parent = nullptr);
    void setTitle(const QString& title);
    void showBack();

signals:
    void back();

public slots:
    void slotBack();

private:
    QLabel* m_title = nullptr;
    QPushButton* m_back = nullptr;
};
