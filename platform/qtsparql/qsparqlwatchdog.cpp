#include "qsparqlwatchdog.h"

#include <gio/gio.h>

QSparqlWatchdog::QSparqlWatchdog(int milliseconds)
    : _limit(milliseconds), _thread(&QSparqlWatchdog::watch, this)
{
}

QSparqlWatchdog::~QSparqlWatchdog()
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _stopping = true;
    }
    _changed.notify_one();
    _thread.join();
}

GCancellable* QSparqlWatchdog::arm()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _cancellable = g_cancellable_new();
    _deadline = std::chrono::steady_clock::now() + _limit;
    _expired = false;
    _changed.notify_one();
    return _cancellable;
}

bool QSparqlWatchdog::disarm()
{
    std::lock_guard<std::mutex> lock(_mutex);
    g_object_unref(_cancellable);
    _cancellable = nullptr;
    return _expired;
}

void QSparqlWatchdog::watch()
{
    std::unique_lock<std::mutex> lock(_mutex);
    while (!_stopping) {
        if (!_cancellable || _expired) {
            _changed.wait(lock);
        } else if (_changed.wait_until(lock, _deadline) == std::cv_status::timeout && _cancellable
                   && std::chrono::steady_clock::now() >= _deadline) {
            _expired = true;
            g_cancellable_cancel(_cancellable);
        }
    }
}
