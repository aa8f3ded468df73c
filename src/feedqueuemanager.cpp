#include "feedqueuemanager.h"

#include "feedenclosuretask.h"
#include "feedlog.h"

#include <QMutex>
#include <QSet>

namespace {

QMutex instanceMutex;

bool sameEnclosure(FeedTask* a, FeedTask* b)
{
    return static_cast<FeedEnclosureTask*>(a)->enclosure()
           == static_cast<FeedEnclosureTask*>(b)->enclosure();
}

void noteRefresh(FeedTask* task, QList<quint64>* refreshes)
{
    const quint64 refresh = static_cast<FeedEnclosureTask*>(task)->refresh();
    if (refreshes && refresh)
        refreshes->append(refresh);
}

} // namespace

FeedQueueManager* FeedQueueManager::_instance = nullptr;

FeedQueueManager* FeedQueueManager::instance()
{
    if (_instance)
        return _instance;
    instanceMutex.lock();
    FEED_LOG(debug, "QueueManager") << "mutex locked";
    if (!_instance) {
        FEED_LOG(debug, "QueueManager") << "object init";
        _instance = new FeedQueueManager();
    }
    instanceMutex.unlock();
    FEED_LOG(debug, "QueueManager") << "mutex unlocked";
    return _instance;
}

void FeedQueueManager::releaseInstance()
{
    if (!_instance)
        return;
    instanceMutex.lock();
    FEED_LOG(debug, "QueueManager") << "mutex locked";
    if (_instance) {
        FEED_LOG(debug, "QueueManager") << "object de-init";
        delete _instance;
    }
    _instance = nullptr;
    instanceMutex.unlock();
    FEED_LOG(debug, "QueueManager") << "mutex unlocked";
}

FeedQueueManager::FeedQueueManager() = default;

FeedQueueManager::~FeedQueueManager()
{
    clearAll();
}

FeedQueueManager::EnclosureKey FeedQueueManager::keyOf(FeedTask* enclosureTask)
{
    const auto* task = static_cast<FeedEnclosureTask*>(enclosureTask);
    return EnclosureKey(task->channel(), task->enclosure());
}

// A manual and an automatic download of one enclosure are one download.
FeedQueueManager::EnclosureIndex& FeedQueueManager::enclosureIndex(FeedTask::Priority priority)
{
    return priority == FeedTask::EssentialEnclosurePriority ? _essentialEnclosures : _downloadEnclosures;
}

void FeedQueueManager::insert(QList<FeedTask*>& tasks, FeedTask* task, EnqueueType enqueueType)
{
    if (enqueueType == EnqueueAppend)
        tasks.append(task);
    else
        tasks.prepend(task);
    if (task->type() == FeedTask::EnclosureTaskType)
        enclosureIndex(task->priority()).insert(keyOf(task), task);
}

FeedTask* FeedQueueManager::takeAt(QList<FeedTask*>& tasks, int i)
{
    FeedTask* task = tasks.takeAt(i);
    if (task->type() == FeedTask::EnclosureTaskType)
        enclosureIndex(task->priority()).remove(keyOf(task));
    return task;
}

template<typename Predicate>
bool FeedQueueManager::removeMatching(QList<FeedTask*>& tasks, Predicate matches, bool onlyFirst)
{
    bool removed = false;
    for (int i = 0; i < tasks.size();) {
        if (!matches(tasks.at(i))) {
            ++i;
            continue;
        }
        delete takeAt(tasks, i);
        removed = true;
        if (onlyFirst)
            break;
    }
    return removed;
}

bool FeedQueueManager::enqueueTask(FeedTask* task, EnqueueType enqueueType)
{
    bool added = false;
    switch (task ? task->type() : 0) {
    case FeedTask::ChannelTaskType:
        added = enqueueChannelTask(task, enqueueType);
        break;
    case FeedTask::EnclosureTaskType:
        added = enqueueEnclosureTask(task, enqueueType);
        break;
    default:
        FEED_LOG(critical, "QueueManager") << "Enqueue task failed !";
        return false;
    }
    if (added)
        emit taskAdded();
    return added;
}

bool FeedQueueManager::enqueueChannelTask(FeedTask* task, EnqueueType enqueueType)
{
    const QString uri = static_cast<FeedChannelTask*>(task)->url();
    if (uri.isEmpty()) {
        FEED_LOG(critical, "QueueManager") << "Enqueue task failed !";
        return false;
    }
    FEED_LOG(debug, "QueueManager") << "Going to add new channel task: " << uri;
    QList<FeedTask*>* tasks = nullptr;
    switch (task->priority()) {
    case FeedTask::SubscribePriority:
        tasks = &_subscriptionTasks;
        break;
    case FeedTask::ManualRefreshPriority:
    case FeedTask::AutoRefreshPriority:
        tasks = &_refreshTasks;
        break;
    default:
        return false;
    }
    if (containsChannel(*tasks, uri))
        return false;
    insert(*tasks, task, enqueueType);
    return true;
}

bool FeedQueueManager::enqueueEnclosureTask(FeedTask* task, EnqueueType enqueueType)
{
    const QString remoteUrl = static_cast<FeedEnclosureTask*>(task)->enclosure().remoteUrl();
    if (remoteUrl.isEmpty()) {
        FEED_LOG(critical, "QueueManager") << "Enqueue task failed !";
        return false;
    }
    FEED_LOG(debug, "QueueManager") << "Going to add new enclosure task: " << remoteUrl;
    QList<FeedTask*>* tasks = enclosureList(task->priority());
    if (!tasks || containsEnclosureTask(task))
        return false;
    insert(*tasks, task, enqueueType);
    return true;
}

bool FeedQueueManager::containsEnclosureTask(FeedTask* task)
{
    return enclosureIndex(task->priority()).contains(keyOf(task));
}

FeedEnclosureTask* FeedQueueManager::waitingEnclosureTask(FeedTask* task)
{
    return static_cast<FeedEnclosureTask*>(enclosureIndex(task->priority()).value(keyOf(task)));
}

bool FeedQueueManager::contains(FeedTask* task)
{
    switch (task ? task->type() : 0) {
    case FeedTask::ChannelTaskType: {
        const QString uri = static_cast<FeedChannelTask*>(task)->url();
        if (task->priority() == FeedTask::SubscribePriority)
            return containsChannel(_subscriptionTasks, uri);
        return containsChannel(_refreshTasks, uri);
    }
    case FeedTask::EnclosureTaskType:
        return containsEnclosureTask(task);
    default:
        return false;
    }
}

bool FeedQueueManager::enqueueTask(QList<FeedTask*> tasks)
{
    if (tasks.isEmpty()) {
        FEED_LOG(critical, "QueueManager") << "Returning: task list is empty";
        return false;
    }
    bool added = false;
    QSet<FeedTask*> deleted;
    const bool wasBlocked = blockSignals(true);
    for (FeedTask* task : tasks) {
        if (deleted.contains(task))
            continue;
        if (enqueueTask(task, EnqueueAppend)) {
            added = true;
        } else if (!holds(task)) {
            deleted.insert(task);
            delete task;
        }
    }
    blockSignals(wasBlocked);
    if (added)
        emit taskAdded();
    return added;
}

FeedTask* FeedQueueManager::dequeueTask(FeedTask::Type type)
{
    QList<QList<FeedTask*>*> order;
    if (type == FeedTask::ChannelTaskType || type == FeedTask::AnyTaskType)
        order << &_subscriptionTasks << &_refreshTasks;
    if (type == FeedTask::EnclosureTaskType || type == FeedTask::AnyTaskType)
        order << &_essentialEnclosureTasks << &_manualEnclosureTasks << &_optionalEnclosureTasks;
    for (QList<FeedTask*>* tasks : order) {
        if (!tasks->isEmpty())
            return takeAt(*tasks, 0);
    }
    FEED_LOG(critical, "QueueManager") << "Use isEmpty before calling dequeue !";
    return nullptr;
}

bool FeedQueueManager::isEmpty(FeedTask::Type type, FeedTask::Priority priority)
{
    switch (type) {
    case FeedTask::ChannelTaskType:
        return isChannelQueueEmpty();
    case FeedTask::EnclosureTaskType:
        return isEnclosureQueueEmpty(priority);
    default:
        return isChannelQueueEmpty() && isEnclosureQueueEmpty(FeedTask::AnyPriority);
    }
}

bool FeedQueueManager::isChannelQueueEmpty()
{
    return _subscriptionTasks.isEmpty() && _refreshTasks.isEmpty();
}

bool FeedQueueManager::isEnclosureQueueEmpty(FeedTask::Priority priority)
{
    if (QList<FeedTask*>* tasks = enclosureList(priority))
        return tasks->isEmpty();
    return _essentialEnclosureTasks.isEmpty() && _manualEnclosureTasks.isEmpty()
           && _optionalEnclosureTasks.isEmpty();
}

QList<FeedTask*>* FeedQueueManager::enclosureList(FeedTask::Priority priority)
{
    switch (priority) {
    case FeedTask::EssentialEnclosurePriority:
        return &_essentialEnclosureTasks;
    case FeedTask::ManualEnclosurePriority:
        return &_manualEnclosureTasks;
    case FeedTask::OptionalEnclosurePriority:
        return &_optionalEnclosureTasks;
    default:
        return nullptr;
    }
}

bool FeedQueueManager::removeTask(FeedTask* probe, QList<quint64>* refreshes)
{
    switch (probe ? probe->type() : 0) {
    case FeedTask::ChannelTaskType:
        return removeChannelTask(probe);
    case FeedTask::EnclosureTaskType:
        return removeEnclosureTask(probe, refreshes);
    default:
        return false;
    }
}

bool FeedQueueManager::removeChannelTask(FeedTask* probe)
{
    const QString uri = static_cast<FeedChannelTask*>(probe)->url();
    auto matches = [&uri](FeedTask* task) {
        return static_cast<FeedChannelTask*>(task)->url() == uri;
    };
    switch (probe->priority()) {
    case FeedTask::SubscribePriority:
        return removeMatching(_subscriptionTasks, matches, true);
    case FeedTask::ManualRefreshPriority:
    case FeedTask::AutoRefreshPriority:
        return removeMatching(_refreshTasks, matches, true);
    default: {
        const bool subscription = removeMatching(_subscriptionTasks, matches, false);
        const bool refresh = removeMatching(_refreshTasks, matches, false);
        return subscription || refresh;
    }
    }
}

bool FeedQueueManager::removeEnclosureTask(FeedTask* probe, QList<quint64>* refreshes)
{
    if (QList<FeedTask*>* tasks = enclosureList(probe->priority()))
        return removeIndexedTask(*tasks, probe, refreshes);
    auto matches = [&](FeedTask* task) {
        const bool equal = sameEnclosure(task, probe);
        if (equal)
            noteRefresh(task, refreshes);
        return equal;
    };
    const bool essential = removeMatching(_essentialEnclosureTasks, matches, false);
    const bool manual = removeMatching(_manualEnclosureTasks, matches, false);
    const bool optional = removeMatching(_optionalEnclosureTasks, matches, false);
    return essential || manual || optional;
}

// The task equal to the probe in the probe's own list; the one of the other list that shares an
// index with it stays.
bool FeedQueueManager::removeIndexedTask(QList<FeedTask*>& tasks, FeedTask* probe, QList<quint64>* refreshes)
{
    FeedTask* task = enclosureIndex(probe->priority()).value(keyOf(probe));
    if (!task || task->priority() != probe->priority())
        return false;
    noteRefresh(task, refreshes);
    delete takeAt(tasks, tasks.indexOf(task));
    return true;
}

void FeedQueueManager::clearChannel(const QString& uri, bool onlyEssential)
{
    auto belongs = [&uri](FeedTask* task) { return task->matchesChannel(uri); };
    removeMatching(_subscriptionTasks, belongs, true);
    removeMatching(_refreshTasks, belongs, true);
    removeMatching(_essentialEnclosureTasks, belongs, false);
    if (onlyEssential) {
        FEED_LOG(debug, "QueueManager") << "removing only channel and its essential enclosures here.";
        return;
    }
    removeMatching(_manualEnclosureTasks, belongs, false);
    removeMatching(_optionalEnclosureTasks, belongs, false);
}

void FeedQueueManager::clearAll()
{
    for (QList<FeedTask*>* tasks : {&_subscriptionTasks, &_refreshTasks, &_essentialEnclosureTasks,
                                    &_manualEnclosureTasks, &_optionalEnclosureTasks}) {
        qDeleteAll(*tasks);
        tasks->clear();
    }
    _essentialEnclosures.clear();
    _downloadEnclosures.clear();
}

bool FeedQueueManager::holds(FeedTask* task) const
{
    return _subscriptionTasks.contains(task) || _refreshTasks.contains(task)
           || _essentialEnclosureTasks.contains(task) || _manualEnclosureTasks.contains(task)
           || _optionalEnclosureTasks.contains(task);
}

bool FeedQueueManager::containsChannel(const QList<FeedTask*>& tasks, const QString& uri)
{
    for (FeedTask* task : tasks) {
        if (task->matchesChannel(uri))
            return true;
    }
    return false;
}
