#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

// Footer bar of the progress page: the refresh action and the collection summary with the way to the re-take page.
class DisplayPhotoFooter : public QWidget
{
    Q_OBJECT

public:
    explicit DisplayPhotoFooter(QWidget* parent = nullptr);
    void showAllCollected(int collected);
    void showPartlyCollected(int collected, int notCollected);

signals:
    void refresh();
    void toReMakeupPhoto();

public slots:
    void slotRefresh();
    void toReMakeupUI();

private:
    QVBoxLayout* setupRefreshColumn();
    QPushButton* m_refresh = nullptr;
    QLabel* m_collected = nullptr;
    QLabel* m_notCollected = nullptr;
    QLabel* m_closing = nullptr;
    QLabel* m_done = nullptr;
    QPushButton* m_processNow = nullptr;
};
