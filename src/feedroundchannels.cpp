#include "feedroundchannels.h"

#include "feedchanneltask.h"
#include "feedqueuemanager.h"
#include "feedtrackersparql.h"

#include <QSet>

FeedRoundChannels::FeedRoundChannels(const FeedTrackerSparql* store, const FeedQueueManager* queue)
    : _store(store)
    , _queue(queue)
{
}

// A channel the store did not give is not kept: a failed read must cost no other task its run.
FeedChannel FeedRoundChannels::take(const QString& uri, bool* read)
{
    *read = true;
    if (_channels.contains(uri))
        return _channels.take(uri);
    QStringList uris{uri};
    QSet<QString> named{uri};
    const QStringList waiting = unread();
    for (int i = 0; i < waiting.size() && uris.size() < ReadAhead; ++i) {
        if (!named.contains(waiting.at(i))) {
            named.insert(waiting.at(i));
            uris.append(waiting.at(i));
        }
    }
    const QList<FeedChannel> channels = _store->channelsForUris(uris, read);
    for (int i = 1; i < channels.size(); ++i) {
        if (!channels.at(i).uri().isEmpty())
            _channels.insert(uris.at(i), channels.at(i));
    }
    return channels.value(0);
}

void FeedRoundChannels::forget(const QStringList& uris)
{
    for (const QString& uri : uris)
        _channels.remove(uri);
}

void FeedRoundChannels::clear()
{
    _channels.clear();
}

QStringList FeedRoundChannels::unread() const
{
    QStringList uris;
    for (const QList<FeedTask*>* tasks : {&_queue->subscriptionTasks(), &_queue->refreshTasks()}) {
        for (const FeedTask* task : *tasks) {
            const QString uri = static_cast<const FeedChannelTask*>(task)->url();
            if (!_channels.contains(uri))
                uris.append(uri);
        }
    }
    return uris;
}
