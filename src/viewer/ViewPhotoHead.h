#pragma once

#include <QWidget>

class QPushButton;

// The viewer's tool bar: full screen, zoom in, zoom out, rotate and close. It only re-emits its buttons' clicks;
// the viewer wires them to the image label and to itself.
class ViewPhotoHead : public QWidget
{
    Q_OBJECT

public:
    explicit ViewPhotoHead(QWidget* parent = nullptr);

signals:
    void fangda();
    void suoxiao();
    void quanping();
    void close();
    void xuanzhuan();

public slots:
    void slotFangda();
    void slotSuoxiao();
    void slotQuanping();
    void slotClose();
    void slotXuanzhuan();

private:
    void setupUi();

    QPushButton* m_quanping = nullptr;
    QPushButton* m_fangda = nullptr;
    QPushButton* m_suoxiao = nullptr;
    QPushButton* m_xuanzhuan = nullptr;
    QPushButton* m_guanbi = nullptr;
};
