#include "feeddownloadprogress.h"

#include <limits>

void FeedDownloadProgress::start(qint64 bytesAlready)
{
    _lastBytesReceived = bytesAlready;
    _progressTimer.start();
}

qint64 FeedDownloadProgress::timeRemaining(qint64 bytesReceived, qint64 bytesTotal)
{
    const qint64 elapsed = _progressTimer.isValid() ? _progressTimer.restart() : 0;
    if (!_progressTimer.isValid())
        _progressTimer.start();
    return timeRemaining(bytesReceived, bytesTotal, elapsed);
}

// The product comes first: dividing first would drop every rate below one byte a millisecond.
qint64 FeedDownloadProgress::timeRemaining(qint64 bytesReceived, qint64 bytesTotal, qint64 elapsedMs)
{
    const qint64 newBytes = bytesReceived - _lastBytesReceived;
    _lastBytesReceived = bytesReceived;
    const qint64 bytesLeft = bytesTotal - bytesReceived;
    if (bytesTotal < 0 || bytesLeft <= 0 || newBytes <= 0 || elapsedMs <= 0)
        return 0;
    constexpr qint64 largest = std::numeric_limits<qint64>::max();
    if (elapsedMs > largest / bytesLeft)
        return largest / newBytes / 1000;
    return elapsedMs * bytesLeft / newBytes / 1000;
}
