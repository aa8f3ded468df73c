#ifndef FEEDENCLOSURELIST_H
#define FEEDENCLOSURELIST_H

#include "feedenclosure.h"
#include "feedtask.h"

#include <QList>
#include <QStringList>

class FeedEnclosureTask;
class FeedQueueManager;
class FeedTrackerSparql;

// The enclosures of one download request, made ready for the queue.
class FeedEnclosureList
{
public:
    // Enclosures of a fetched channel come before anyone has read their records back: each empty
    // URI is filled from the store by the remote URL, one query for the list.
    static QList<FeedEnclosure> withStoreUris(const QList<FeedEnclosure>& enclosures, const FeedTrackerSparql& store);
    // The URIs of those that have one, in order.
    static QStringList uris(const QList<FeedEnclosure>& enclosures);
    // A task for each enclosure the queue would take: none without a remote URL, none twice, none
    // equal to a task that waits; those that wait go to *waiting. The new tasks are the caller's.
    static QList<FeedTask*> newTasks(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                                     FeedTask::Priority priority, FeedQueueManager& queue,
                                     QList<FeedEnclosureTask*>* waiting);
};

#endif
