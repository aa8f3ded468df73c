#ifndef FEEDENCLOSURECOUNTER_H
#define FEEDENCLOSURECOUNTER_H

#include <QMap>
#include <QString>

// Per channel, the essential enclosure downloads of its refresh that have not ended yet. The
// refresh is complete when the count of a channel runs out. A channel has an entry only while
// its count is above zero.
class FeedEnclosureCounter
{
public:
    // Adds downloads to the channel's count; a count below one adds nothing.
    void add(const QString& channelUri, int count);
    // One download of the channel ended. True when that was its last: the entry is gone and the
    // refresh complete. A channel without an entry stays without one.
    bool decrease(const QString& channelUri);
    // The channel's refresh no longer counts (cancelled, unsubscribed).
    void remove(const QString& channelUri);
    // No refresh counts any more (all work cancelled).
    void clear() { _counts.clear(); }
    int count(const QString& channelUri) const { return _counts.value(channelUri); }

private:
    QMap<QString, int> _counts;
};

#endif
