#pragma once

#include <QWidget>

#include <utility>

// Placeholder: stands in with the members the main window uses until the real widget is built.
class DisplayPhoto : public QWidget
{
    Q_OBJECT

public:
    explicit DisplayPhoto(QWidget* parent = nullptr);
    void setTitle(const QString& title);
signals:
    void uploadPicStarted();
    void toReMakeupPhoto();
    void toTakePhoto();
    void toViewPhoto(const QList<std::pair<QString, QString>>);
public slots:
    void refreshDisplayUi();
};
