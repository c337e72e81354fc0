#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include "upload/QueueState.h"

class QAction;

// The notification-area icon: a double-click brings the hidden main window back, its one menu item quits.
// Never shown itself and without a parent: the main window deletes it.
class TrayProgramManager : public QWidget
{
    Q_OBJECT

public:
    // The parent is ignored: the manager is not part of the main window's widget tree.
    explicit TrayProgramManager(QWidget* parent = nullptr);
    ~TrayProgramManager() override;

    QSystemTrayIcon* trayIcon() { return &m_trayIcon; }

    // Whether the desktop has a notification area to show the icon in; tests may pretend either way.
    static bool isTrayAvailable();
    enum class Availability
    {
        System,
        Available,
        Unavailable
    };
    static void setAvailabilityForTests(Availability availability);

signals:
    void signalMaxInterface();
    void signalCloseInterface();

public slots:
    void slotActiveTary(QSystemTrayIcon::ActivationReason reason);
    void slotEmitMaxInterfaceSignal();
    void slotEmitCloseInterfaceSignal();
    // The icon's tooltip says what the title bar's queue status says, under the program's name.
    void setQueueState(const QueueState& state);
    // Another copy drains the working folder while this one waits for it.
    void showOtherCopyUploading(bool uploading);

private:
    QSystemTrayIcon m_trayIcon;
    QMenu m_menu;
    QAction* m_quitAction = nullptr;
};
