#include "viewer/ViewPhoto.h"

ViewPhoto::ViewPhoto(QWidget* parent) : QWidget(parent) {}

void ViewPhoto::setPhotoPath(const QList<std::pair<QString, QString>>) {}

void ViewPhoto::loadStudent(const QString&) {}
