#pragma once

#include <QObject>

// Placeholder: the tray icon comes with the shell's title bar and tray.
class TrayProgramManager : public QObject
{
    Q_OBJECT

public:
    explicit TrayProgramManager(QObject* parent = nullptr);

signals:
    void signalMaxInterface();
    void signalCloseInterface();
};
