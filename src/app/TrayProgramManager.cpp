#include "app/TrayProgramManager.h"

#include <QAction>

namespace {

TrayProgramManager::Availability s_availability = TrayProgramManager::Availability::System;

} // namespace

bool TrayProgramManager::isTrayAvailable()
{
    switch (s_availability) {
    case Availability::Available:
        return true;
    case Availability::Unavailable:
        return false;
    case Availability::System:
        break;
    }
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayProgramManager::setAvailabilityForTests(Availability availability)
{
    s_availability = availability;
}

TrayProgramManager::TrayProgramManager(QWidget*) : QWidget(nullptr)
{
    m_trayIcon.setIcon(QIcon(QStringLiteral(":/AmbrelClient/Resources/logo.bmp")));
    m_trayIcon.setToolTip(QStringLiteral("岚栖"));
    m_trayIcon.setVisible(true);
    connect(&m_trayIcon, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(slotActiveTary(QSystemTrayIcon::ActivationReason)));

    m_quitAction = new QAction(QStringLiteral("退出"), this);
    m_menu.addAction(m_quitAction);
    connect(m_quitAction, SIGNAL(triggered(bool)), this, SLOT(slotEmitCloseInterfaceSignal()));
    m_trayIcon.setContextMenu(&m_menu);
}

TrayProgramManager::~TrayProgramManager()
{
    m_trayIcon.hide();
    delete m_quitAction;
}

void TrayProgramManager::slotActiveTary(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        emit signalMaxInterface();
        break;
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::Context: // the icon opens its menu by itself
    case QSystemTrayIcon::Trigger: // a single click does not restore the window
    case QSystemTrayIcon::MiddleClick:
        break;
    }
}

void TrayProgramManager::slotEmitMaxInterfaceSignal()
{
    emit signalMaxInterface();
}

void TrayProgramManager::slotEmitCloseInterfaceSignal()
{
    emit signalCloseInterface();
}

void TrayProgramManager::setQueueState(const QueueState& state)
{
    const QString status = state.summary().fullText;
    const QString toolTip = status.isEmpty() ? QStringLiteral("岚栖") : QStringLiteral("岚栖\n") + status;
    if (m_trayIcon.toolTip() != toolTip)
        m_trayIcon.setToolTip(toolTip);
}

void TrayProgramManager::showOtherCopyUploading(bool uploading)
{
    m_trayIcon.setToolTip(uploading ? QStringLiteral("岚栖\n另一个窗口正在上传") : QStringLiteral("岚栖"));
}
