#ifndef QSPARQLWATCHDOG_H
#define QSPARQLWATCHDOG_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct _GCancellable;

// Store calls block their caller until the store answers; a store that stops answering would
// hold it for good. The watchdog cancels the call in progress once it has run past its time.
// One call at a time.
class QSparqlWatchdog
{
public:
    explicit QSparqlWatchdog(int milliseconds);
    ~QSparqlWatchdog();
    QSparqlWatchdog(const QSparqlWatchdog&) = delete;
    QSparqlWatchdog& operator=(const QSparqlWatchdog&) = delete;

    // The cancellable of the call that starts now; its time runs until disarm().
    _GCancellable* arm();
    // Whether the call's time ran out, which cancelled it.
    bool disarm();
    int milliseconds() const { return int(_limit.count()); }

private:
    void watch();

    const std::chrono::milliseconds _limit;
    std::mutex _mutex;
    std::condition_variable _changed;
    _GCancellable* _cancellable = nullptr;
    std::chrono::steady_clock::time_point _deadline;
    bool _expired = false;
    bool _stopping = false;
    std::thread _thread;
};

#endif
