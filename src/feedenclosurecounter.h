#ifndef FEEDENCLOSURECOUNTER_H
#define FEEDENCLOSURECOUNTER_H

#include <QHash>
#include <QString>

// Per channel, the essential enclosure downloads of its open refresh that have not ended yet.
// The refresh is complete when its count runs out. A channel has an open refresh only while its
// count is above zero. Each open refresh has a ticket of its own, which the downloads it counts
// carry: a download counted for a refresh that has ended otherwise (cancelled, failed) never
// counts down a later one.
class FeedEnclosureCounter
{
public:
    // Counts downloads into the channel's open refresh, opened when it has none; its ticket. A
    // count below one counts nothing and gives the ticket of the open refresh, 0 when none is.
    quint64 add(const QString& channelUri, int count);
    // One download of the refresh the ticket names ended. True when that was its last: the
    // refresh of *channelUri is complete. A ticket of no open refresh changes nothing.
    bool decrease(quint64 ticket, QString* channelUri);
    // The channel's refresh no longer counts (cancelled, unsubscribed).
    void remove(const QString& channelUri);
    // No refresh counts any more (all work cancelled).
    void clear();
    int count(const QString& channelUri) const { return _refreshes.value(channelUri).count; }
    // 0 when the channel has no open refresh.
    quint64 ticket(const QString& channelUri) const { return _refreshes.value(channelUri).ticket; }

private:
    struct Refresh
    {
        quint64 ticket = 0;
        int count = 0;
    };

    QHash<QString, Refresh> _refreshes;
    QHash<quint64, QString> _channels;
    quint64 _lastTicket = 0;
};

#endif
