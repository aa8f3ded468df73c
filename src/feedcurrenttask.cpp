#include "feedcurrenttask.h"

#include "feedchanneltask.h"
#include "feedenclosuretask.h"

FeedCurrentTask::FeedCurrentTask() = default;

FeedCurrentTask::~FeedCurrentTask()
{
    delete _task;
}

void FeedCurrentTask::start(FeedTask* task)
{
    delete _task;
    _task = task;
    ++_ticket;
    _stopReason = NotStopped;
    _dropped = false;
}

void FeedCurrentTask::finish()
{
    delete _task;
    clear();
}

FeedTask* FeedCurrentTask::release()
{
    FeedTask* task = _task;
    clear();
    return task;
}

void FeedCurrentTask::clear()
{
    _task = nullptr;
    ++_ticket;
    _stopReason = NotStopped;
    _dropped = false;
}

FeedChannelTask* FeedCurrentTask::channelTask() const
{
    return _task && _task->type() == FeedTask::ChannelTaskType ? static_cast<FeedChannelTask*>(_task) : nullptr;
}

FeedEnclosureTask* FeedCurrentTask::enclosureTask() const
{
    return _task && _task->type() == FeedTask::EnclosureTaskType ? static_cast<FeedEnclosureTask*>(_task)
                                                                    : nullptr;
}

void FeedCurrentTask::markStopped(StopReason reason)
{
    _stopReason = qMax(_stopReason, reason);
}
