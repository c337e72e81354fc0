#include "app/Tips.h"

Tips::Tips(QWidget* parent) : QWidget(parent) {}

