#include "korvel2control.h"

#include "qmheartbeat.h"
#include "qmusbmode.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDebug>

namespace Vantor {

const QString Korvel2Control::ObjectPath = QStringLiteral("/korvel2");

namespace {

void exportControl()
{
    if (!Korvel2Control::enabled())
        return;
    if (!QDBusConnection::sessionBus().registerObject(Korvel2Control::ObjectPath, Korvel2Control::instance(),
                                                      QDBusConnection::ExportScriptableSlots))
        qWarning() << "Korvel2Control: not on the session bus:" << QDBusConnection::sessionBus().lastError().message();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(exportControl)

Korvel2Control::Korvel2Control()
    : _usbMode(QmUSBMode::Idle)
    , _heartbeatAvailable(true)
    , _acknowledgements(0)
{
}

Korvel2Control* Korvel2Control::instance()
{
    static Korvel2Control* const control = new Korvel2Control;
    return control;
}

bool Korvel2Control::enabled()
{
    return qEnvironmentVariableIntValue("VIRELON_PLATFORM_CONTROL") == 1;
}

void Korvel2Control::addHeartbeat(QmHeartbeat* heartbeat)
{
    _heartbeats << heartbeat;
}

void Korvel2Control::removeHeartbeat(QmHeartbeat* heartbeat)
{
    _heartbeats.removeAll(heartbeat);
}

void Korvel2Control::recordWait(unsigned short minimum, unsigned short maximum)
{
    _waits << QStringLiteral("%1..%2").arg(minimum).arg(maximum);
}

void Korvel2Control::setUsbMode(int mode)
{
    _usbMode = mode;
    emit usbModeSet(mode);
}

void Korvel2Control::announceUnmount(int mountPath)
{
    emit unmountAnnounced(mountPath);
}

bool Korvel2Control::fireWakeUp()
{
    bool fired = false;
    for (QmHeartbeat* heartbeat : qAsConst(_heartbeats)) {
        if (!heartbeat->waitPending())
            continue;
        QMetaObject::invokeMethod(heartbeat, &QmHeartbeat::deliverWakeUp, Qt::QueuedConnection);
        fired = true;
    }
    return fired;
}

} // namespace Vantor
