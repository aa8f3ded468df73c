#include "feedenclosurecounter.h"

void FeedEnclosureCounter::add(const QString& channelUri, int count)
{
    if (count > 0)
        _counts[channelUri] += count;
}

bool FeedEnclosureCounter::decrease(const QString& channelUri)
{
    auto entry = _counts.find(channelUri);
    if (entry == _counts.end())
        return false;
    if (--entry.value() > 0)
        return false;
    _counts.erase(entry);
    return true;
}

void FeedEnclosureCounter::remove(const QString& channelUri)
{
    _counts.remove(channelUri);
}
