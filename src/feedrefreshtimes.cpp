#include "feedrefreshtimes.h"

#include "feedlog.h"
#include "feedtrackersparql.h"

void FeedRefreshTimes::add(const QString& channelUri, const QDateTime& time)
{
    _times.insert(channelUri, time);
    if (_times.size() >= MaximumWaiting)
        write();
}

void FeedRefreshTimes::forget(const QString& channelUri)
{
    _times.remove(channelUri);
}

// A failed write is not tried again: the next refresh of each channel writes its own time.
void FeedRefreshTimes::write()
{
    if (_times.isEmpty())
        return;
    if (!FeedTrackerSparql::instance()->setLastModifiedTimes(_times))
        FEED_LOG(critical, "Engine") << "Last-update times not written for" << _times.size() << "channels";
    _times.clear();
}
