#include "capture/TakePhoto.h"

TakePhoto::TakePhoto(QWidget* parent) : QWidget(parent) {}

void TakePhoto::startPNG() {}

void TakePhoto::initTaskFolder(const QString&) {}
