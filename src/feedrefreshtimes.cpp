#include "feedrefreshtimes.h"

#include "feedlog.h"
#include "feedtrackersparql.h"

FeedRefreshTimes::FeedRefreshTimes()
{
    _timer.setSingleShot(true);
    _timer.setInterval(MaximumWaitMs);
    QObject::connect(&_timer, &QTimer::timeout, &_timer, [this] { write(); });
}

void FeedRefreshTimes::add(const QString& channelUri, const QDateTime& time)
{
    _times.insert(channelUri, time);
    if (_times.size() >= MaximumWaiting)
        write();
    else if (!_timer.isActive())
        _timer.start();
}

void FeedRefreshTimes::forget(const QString& channelUri)
{
    _times.remove(channelUri);
}

// A failed write is not tried again: the next refresh of each channel writes its own time.
void FeedRefreshTimes::write()
{
    _timer.stop();
    if (_times.isEmpty())
        return;
    if (!FeedTrackerSparql::instance()->setLastModifiedTimes(_times))
        FEED_LOG(critical, "Engine") << "Last-update times not written for" << _times.size() << "channels";
    _times.clear();
}
