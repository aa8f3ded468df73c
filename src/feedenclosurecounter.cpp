#include "feedenclosurecounter.h"

quint64 FeedEnclosureCounter::add(const QString& channelUri, int count)
{
    auto refresh = _refreshes.find(channelUri);
    if (count < 1)
        return refresh == _refreshes.end() ? 0 : refresh->ticket;
    if (refresh == _refreshes.end()) {
        refresh = _refreshes.insert(channelUri, Refresh{++_lastTicket, 0});
        _channels.insert(refresh->ticket, channelUri);
    }
    refresh->count += count;
    return refresh->ticket;
}

bool FeedEnclosureCounter::decrease(quint64 ticket, QString* channelUri)
{
    const auto channel = _channels.constFind(ticket);
    if (channel == _channels.cend())
        return false;
    *channelUri = channel.value();
    if (--_refreshes[*channelUri].count > 0)
        return false;
    remove(*channelUri);
    return true;
}

void FeedEnclosureCounter::remove(const QString& channelUri)
{
    _channels.remove(_refreshes.take(channelUri).ticket);
}

void FeedEnclosureCounter::clear()
{
    _refreshes.clear();
    _channels.clear();
}
