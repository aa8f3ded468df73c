#ifndef FEEDROUNDCHANNELS_H
#define FEEDROUNDCHANNELS_H

#include "feedchannel.h"

#include <QHash>
#include <QString>
#include <QStringList>

class FeedQueueManager;
class FeedTrackerSparql;

// The stored records of the channels whose tasks wait, read a slice at a time: the first task
// of a slice to start reads them all, one store query in place of one a task. A record serves one
// task start; a request for the channel has it read again, so that a changed link is fetched.
class FeedRoundChannels
{
public:
    static const int ReadAhead = 100;

    FeedRoundChannels(const FeedTrackerSparql* store, const FeedQueueManager* queue);

    // The record of the channel; read now, with those of the next waiting channels, when it was
    // not read yet. Empty when the store holds no such channel, or did not answer (*read false).
    FeedChannel take(const QString& uri, bool* read);
    void forget(const QStringList& uris);
    void clear();

private:
    Q_DISABLE_COPY(FeedRoundChannels)

    // The channels of the waiting channel tasks, in the order they run, that were not read yet.
    QStringList unread() const;

    const FeedTrackerSparql* _store;
    const FeedQueueManager* _queue;
    QHash<QString, FeedChannel> _channels;
};

#endif
