#ifndef FEEDENCLOSURECOMPLETION_H
#define FEEDENCLOSURECOMPLETION_H

#include "feedenclosure.h"
#include "feedenclosurecounter.h"
#include "feedtask.h"

#include <QObject>

class FeedQueueManager;

// How enclosure downloads end for those who listen, and when a refreshed channel is complete:
// its refresh waits for the essential downloads that the queue took for it, however each ends.
// Manual downloads tell when the last of them has ended; an essential one tells nobody but its
// channel's refresh.
class FeedEnclosureCompletion : public QObject
{
    Q_OBJECT

public:
    explicit FeedEnclosureCompletion(FeedQueueManager* queue, QObject* parent = nullptr);

    // The queue took count essential downloads for the channel's refresh: the refresh's ticket,
    // for each of them to carry.
    quint64 expect(const QString& channelUri, int count);
    bool isWaitingFor(const QString& channelUri) const { return _enclosureCount.count(channelUri) > 0; }
    // The ticket of the channel's refresh that waits for its downloads; 0 when none does.
    quint64 openRefresh(const QString& channelUri) const { return _enclosureCount.ticket(channelUri); }
    // The channel's refresh no longer counts (cancelled, unsubscribed); nothing is said.
    void forget(const QString& channelUri) { _enclosureCount.remove(channelUri); }
    void forgetAll() { _enclosureCount.clear(); }
    // A refresh with nothing to download.
    void complete(const QString& channelUri);

    // A download ended; refresh is the ticket it carries.
    void succeeded(const QString& channelUri, const FeedEnclosure& enclosure, FeedTask::Priority priority,
                   quint64 refresh);
    void failed(const QString& channelUri, const FeedEnclosure& enclosure, FeedTask::Priority priority,
                int errorCode, quint64 refresh);
    // Counted downloads that left the queue unrun: the ticket of each.
    void endedUnrun(const QList<quint64>& refreshes);

signals:
    void refreshCompleted(const QString& uri);
    void enclosureDownloaded(const QString& channelUri, const FeedEnclosure& enclosure, qlonglong timeElapsed);
    void enclosureDownloadFailed(const QString& channelUri, const FeedEnclosure& enclosure, int errorCode,
                                 qlonglong timeElapsed);
    void refreshState(int state);

private:
    Q_DISABLE_COPY(FeedEnclosureCompletion)

    void decreaseEnclosureCount(quint64 refresh);
    void manualDownloadEnded();

    FeedQueueManager* _queue;
    FeedEnclosureCounter _enclosureCount;
};

#endif
