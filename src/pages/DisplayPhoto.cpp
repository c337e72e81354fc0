#include "pages/DisplayPhoto.h"

DisplayPhoto::DisplayPhoto(QWidget* parent) : QWidget(parent) {}

void DisplayPhoto::refreshDisplayUi() {}

void DisplayPhoto::setTitle(const QString&) {}
