#include "app/ShutDownDialog.h"

ShutDownDialog::ShutDownDialog(QWidget* parent) : QDialog(parent) {}

void ShutDownDialog::setImageFolder(const QString&) {}

bool ShutDownDialog::checkPending()
{
    return false;
}
