#pragma once

#include <QWidget>

class QHBoxLayout;

// The start page: the set-up illustration, the three steps of the work, and the two ways to bring in answer
// sheets (photograph them, or import files scanned elsewhere).
class HomePage : public QWidget
{
    Q_OBJECT

public:
    explicit HomePage(QWidget* parent = nullptr);

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
};
