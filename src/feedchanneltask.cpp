#include "feedchanneltask.h"

FeedChannelTask::FeedChannelTask(Priority priority, const QString& uri)
    : FeedTask(priority)
    , _uri(uri)
{
}

FeedTask* FeedChannelTask::create(Priority priority, const QString& uri)
{
    return new FeedChannelTask(priority, uri);
}

FeedTask::Type FeedChannelTask::type()
{
    return ChannelTaskType;
}

bool FeedChannelTask::matchesChannel(const QString& uri)
{
    return uri == _uri;
}
