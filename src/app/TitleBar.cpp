#include "app/TitleBar.h"

TitleBar::TitleBar(QWidget* parent) : QWidget(parent) {}

