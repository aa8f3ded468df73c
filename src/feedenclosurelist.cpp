#include "feedenclosurelist.h"

#include "feedenclosuretask.h"
#include "feedqueuemanager.h"
#include "feedtrackersparql.h"

#include <memory>

QList<FeedEnclosure> FeedEnclosureList::withStoreUris(const QList<FeedEnclosure>& enclosures,
                                                      const FeedTrackerSparql& store)
{
    QStringList unknown;
    for (const FeedEnclosure& enclosure : enclosures) {
        if (enclosure.uri().isEmpty() && !enclosure.remoteUrl().isEmpty())
            unknown.append(enclosure.remoteUrl());
    }
    if (unknown.isEmpty())
        return enclosures;
    const QHash<QString, QString> uris = store.enclosureUrisForRemoteUrls(unknown);
    QList<FeedEnclosure> filled = enclosures;
    for (FeedEnclosure& enclosure : filled) {
        if (enclosure.uri().isEmpty())
            enclosure.setUri(uris.value(enclosure.remoteUrl()));
    }
    return filled;
}

QStringList FeedEnclosureList::uris(const QList<FeedEnclosure>& enclosures)
{
    QStringList uris;
    for (const FeedEnclosure& enclosure : enclosures) {
        if (!enclosure.uri().isEmpty())
            uris.append(enclosure.uri());
    }
    return uris;
}

QList<FeedTask*> FeedEnclosureList::newTasks(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                                             FeedTask::Priority priority, FeedQueueManager& queue,
                                             QList<FeedEnclosureTask*>* waiting)
{
    QList<FeedTask*> tasks;
    QList<FeedEnclosure> taken;
    for (const FeedEnclosure& enclosure : enclosures) {
        if (enclosure.remoteUrl().isEmpty() || taken.contains(enclosure))
            continue;
        taken.append(enclosure);
        std::unique_ptr<FeedTask> task(new FeedEnclosureTask(priority, channelUri, enclosure));
        if (FeedEnclosureTask* equal = queue.waitingEnclosureTask(task.get()))
            waiting->append(equal);
        else
            tasks.append(task.release());
    }
    return tasks;
}
