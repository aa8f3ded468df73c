#ifndef FEEDTASK_H
#define FEEDTASK_H

#include <QString>

// How a task enters its queue list.
enum EnqueueType {
    EnqueueAppend = 0,
    EnqueuePrepend = 1 // a task interrupted by a pause runs again first
};

// One unit of the scheduler's work. Tasks are never copied; they are owned by the queue
// while they wait and by the scheduler while they run, and always deleted through FeedTask*.
class FeedTask
{
public:
    // Higher numbers are served first.
    enum Priority {
        AnyPriority = 0, // only in search keys and emptiness tests
        OptionalEnclosurePriority = 1,
        ManualEnclosurePriority = 2,
        EssentialEnclosurePriority = 3,
        AutoRefreshPriority = 4,
        ManualRefreshPriority = 5,
        SubscribePriority = 6
    };

    enum Type {
        ChannelTaskType = 1,
        EnclosureTaskType = 2,
        AnyTaskType = 3 // only as an argument: either kind, channel tasks first
    };

    explicit FeedTask(Priority priority);
    virtual ~FeedTask();

    virtual Priority priority() const;
    virtual Type type() = 0;
    virtual bool matchesChannel(const QString& uri) = 0;

    // Times the plug-in process ended while this task ran; it travels with the task when the
    // task goes back into the queue, so that a task that kills its plug-in is given up.
    int exitCount() const { return _exitCount; }
    int countExit() { return ++_exitCount; }

private:
    Q_DISABLE_COPY(FeedTask)

    const Priority _priority;
    int _exitCount = 0;
};

#endif
