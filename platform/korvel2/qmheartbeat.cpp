#include "qmheartbeat.h"

#include "korvel2control.h"

#include <QDebug>
#include <QTimer>

namespace Vantor {

QmHeartbeat::QmHeartbeat(QObject* parent)
    : QObject(parent)
    , _timer(new QTimer(this))
    , _open(false)
    , _signalNeeded(false)
    , _waitPending(false)
{
    _timer->setSingleShot(true);
    connect(_timer, &QTimer::timeout, this, &QmHeartbeat::deliverWakeUp);
    Korvel2Control::instance()->addHeartbeat(this);
}

QmHeartbeat::~QmHeartbeat()
{
    Korvel2Control::instance()->removeHeartbeat(this);
}

bool QmHeartbeat::open(SignalNeed need)
{
    if (!Korvel2Control::instance()->heartbeatAvailable())
        return false;
    _open = true;
    _signalNeeded = need == WakeUpSignal;
    return true;
}

void QmHeartbeat::close()
{
    _timer->stop();
    _waitPending = false;
    _open = false;
}

bool QmHeartbeat::wait(unsigned short minimum, unsigned short maximum, WaitMode mode)
{
    Korvel2Control::instance()->recordWait(minimum, maximum);
    if (!_open || mode != ReturnAtOnce) {
        qWarning() << "QmHeartbeat: wait refused, open:" << _open << "mode:" << mode;
        return false;
    }
    _waitPending = true;
    // Under test control a wake-up comes only when the test fires it.
    if (!Korvel2Control::enabled())
        _timer->start(int(minimum) * 1000);
    return true;
}

bool QmHeartbeat::IWokeUp()
{
    Korvel2Control::instance()->recordAcknowledgement();
    return _open;
}

// A wait that was fired twice before the event loop ran wakes the process once.
void QmHeartbeat::deliverWakeUp()
{
    if (!_waitPending)
        return;
    _timer->stop();
    _waitPending = false;
    if (_signalNeeded)
        emit wakeUp(QTime::currentTime());
}

} // namespace Vantor
