#include "pages/ReTakePhoto.h"

ReTakePhoto::ReTakePhoto(QWidget* parent) : QWidget(parent) {}

void ReTakePhoto::reloadStudents() {}
