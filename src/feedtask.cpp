#include "feedtask.h"

FeedTask::FeedTask(Priority priority)
    : _priority(priority)
{
}

FeedTask::~FeedTask() = default;

FeedTask::Priority FeedTask::priority() const
{
    return _priority;
}
