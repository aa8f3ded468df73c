#ifndef FEEDCHANNELTASK_H
#define FEEDCHANNELTASK_H

#include "feedtask.h"

// Fetching the feed of one channel.
class FeedChannelTask : public FeedTask
{
public:
    FeedChannelTask(Priority priority, const QString& uri);

    static FeedTask* create(Priority priority, const QString& uri);

    Type type() override;
    bool matchesChannel(const QString& uri) override;
    QString url() const { return _uri; }

private:
    const QString _uri;
};

#endif
