#include "pages/HomePage.h"

HomePage::HomePage(QWidget* parent) : QWidget(parent) {}

