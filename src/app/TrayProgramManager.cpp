#include "app/TrayProgramManager.h"

TrayProgramManager::TrayProgramManager(QObject* parent) : QObject(parent) {}
