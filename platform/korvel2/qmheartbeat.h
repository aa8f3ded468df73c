#ifndef QMHEARTBEAT_H
#define QMHEARTBEAT_H

#include <QObject>
#include <QTime>

class QTimer;

namespace Vantor {

// Wake-ups of the process inside a window of seconds. One wait is armed at a time: a new wait
// replaces a pending one.
class QmHeartbeat : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QmHeartbeat)

public:
    enum SignalNeed {
        NoSignal = 0,
        WakeUpSignal = 1
    };

    enum WaitMode {
        ReturnAtOnce = 0,
        BlockUntilWakeUp = 1
    };

    explicit QmHeartbeat(QObject* parent = nullptr);
    ~QmHeartbeat() override;

    bool open(SignalNeed need);
    void close();
    // False when the heartbeat is not open or asked to block, which this stand-in does not do.
    bool wait(unsigned short minimum, unsigned short maximum, WaitMode mode);
    bool IWokeUp();

signals:
    void wakeUp(QTime time);

private:
    friend class Korvel2Control;

    bool waitPending() const { return _waitPending; }
    void deliverWakeUp();

    QTimer* _timer;
    bool _open;
    bool _signalNeeded;
    bool _waitPending;
};

} // namespace Vantor

#endif
