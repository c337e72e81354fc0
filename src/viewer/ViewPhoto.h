#pragma once

#include <QWidget>

#include <utility>

// Placeholder: stands in with the members the main window uses until the real widget is built.
class ViewPhoto : public QWidget
{
    Q_OBJECT

public:
    explicit ViewPhoto(QWidget* parent = nullptr);
    void loadStudent(const QString& studentId);
signals:
    void closeViewPhotoUi();
public slots:
    void setPhotoPath(const QList<std::pair<QString, QString>>);
};
