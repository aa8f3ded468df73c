#ifndef KORVEL2CONTROL_H
#define KORVEL2CONTROL_H

#include <QList>
#include <QObject>
#include <QStringList>

namespace Vantor {

class QmHeartbeat;

// The test side of the stand-in: sets the USB mode, announces unmounts, shows the heartbeat
// waits and acknowledgements, and fires the pending wake-up. With VIRELON_PLATFORM_CONTROL=1
// (tests only) heartbeats run no timer and this object is also on the process's session-bus
// connection at "/korvel2", answering in the main thread.
class Korvel2Control : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.vorlane.Virelon.Korvel2")
    Q_DISABLE_COPY(Korvel2Control)

public:
    static Korvel2Control* instance();
    static bool enabled();
    static const QString ObjectPath;

    int usbMode() const { return _usbMode; }
    bool heartbeatAvailable() const { return _heartbeatAvailable; }

    void addHeartbeat(QmHeartbeat* heartbeat);
    void removeHeartbeat(QmHeartbeat* heartbeat);
    void recordWait(unsigned short minimum, unsigned short maximum);
    void recordAcknowledgement() { ++_acknowledgements; }

public slots:
    // Every live USB-mode object announces the mode before the call returns.
    Q_SCRIPTABLE void setUsbMode(int mode);
    Q_SCRIPTABLE void announceUnmount(int mountPath);
    // While false, opening a heartbeat fails, as with the service absent.
    Q_SCRIPTABLE void setHeartbeatAvailable(bool available) { _heartbeatAvailable = available; }
    // Every wait issued so far, taken or refused, oldest first, as "minimum..maximum" seconds.
    Q_SCRIPTABLE QStringList waits() const { return _waits; }
    Q_SCRIPTABLE int acknowledgements() const { return _acknowledgements; }
    // Delivers the pending wait's wake-up through the event loop; false when none is pending.
    Q_SCRIPTABLE bool fireWakeUp();

signals:
    void usbModeSet(int mode);
    void unmountAnnounced(int mountPath);

private:
    Korvel2Control();

    int _usbMode;
    bool _heartbeatAvailable;
    QStringList _waits;
    int _acknowledgements;
    QList<QmHeartbeat*> _heartbeats;
};

} // namespace Vantor

#endif
