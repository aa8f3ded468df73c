#ifndef FEEDCURRENTTASK_H
#define FEEDCURRENTTASK_H

#include <QtGlobal>

class FeedChannelTask;
class FeedEnclosureTask;
class FeedTask;

// The one task the scheduler runs, owned while it runs, with what the scheduler asked of it
// since it started: why it was stopped, and whether its result is still wanted at all.
//
// Every start and every release gives the run a new ticket, so that a caller who emitted a
// signal or waited for the plug-in in between can tell whether it still holds the same run.
class FeedCurrentTask
{
public:
    // How the scheduler stopped the task; a stronger reason overrides a weaker one.
    enum StopReason {
        NotStopped = 0,
        SchedulerPause = 1, // runs again first once the scheduler resumes
        UserPause = 2,      // ends; a later request resumes it
        Cancel = 3          // ends, and nothing of it is kept
    };

    FeedCurrentTask();
    ~FeedCurrentTask();

    // Takes the task over; marks of an earlier run are gone.
    void start(FeedTask* task);
    // Deletes the task.
    void finish();
    // Gives the task up without deleting it: the caller (the queue) owns it now.
    FeedTask* release();

    bool isSet() const { return _task; }
    FeedTask* task() const { return _task; }
    // The task as its kind, or null when it is of the other kind or none runs.
    FeedChannelTask* channelTask() const;
    FeedEnclosureTask* enclosureTask() const;

    quint64 ticket() const { return _ticket; }
    bool isCurrent(quint64 ticket) const { return _task && ticket == _ticket; }

    void markStopped(StopReason reason);
    StopReason stopReason() const { return _stopReason; }
    // Its channel is gone: the task ends without any signal and leaves nothing behind.
    void markDropped() { _dropped = true; }
    bool isDropped() const { return _dropped; }
    // Nothing of the run is wanted any more: it was cancelled, or its channel is gone.
    bool isCancelled() const { return _dropped || _stopReason == Cancel; }

private:
    Q_DISABLE_COPY(FeedCurrentTask)

    void clear();

    FeedTask* _task = nullptr;
    quint64 _ticket = 0;
    StopReason _stopReason = NotStopped;
    bool _dropped = false;
};

#endif
