#ifndef FEEDQUEUEMANAGER_H
#define FEEDQUEUEMANAGER_H

#include "feedenclosure.h"
#include "feedtask.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QObject>

class FeedEnclosureTask;

// The tasks waiting to run, one list per priority band, without duplicates. The queue owns
// what it holds; dequeueTask hands a task to the caller.
class FeedQueueManager : public QObject
{
    Q_OBJECT

public:
    static FeedQueueManager* instance();
    static void releaseInstance();

    // False when refused; the task then stays the caller's.
    bool enqueueTask(FeedTask* task, EnqueueType enqueueType);
    // True when at least one task was added. The queue takes every task of the list: the
    // ones it refuses are deleted.
    bool enqueueTask(QList<FeedTask*> tasks);
    FeedTask* dequeueTask(FeedTask::Type type);
    bool isEmpty(FeedTask::Type type, FeedTask::Priority priority);
    // Deletes the waiting tasks that the probe describes; the probe stays the caller's. The
    // refresh ticket of each enclosure task removed that counts for one goes into refreshes.
    bool removeTask(FeedTask* probe, QList<quint64>* refreshes = nullptr);
    // Whether a task equal to this one waits: the queue would refuse it.
    bool contains(FeedTask* task);
    // The waiting task equal to this enclosure task; null when none waits.
    FeedEnclosureTask* waitingEnclosureTask(FeedTask* task);
    void clearChannel(const QString& uri, bool onlyEssential);
    void clearAll();
    bool isChannelQueueEmpty();

    // The waiting tasks of a list, in the order they run; for status queries.
    const QList<FeedTask*>& subscriptionTasks() const { return _subscriptionTasks; }
    const QList<FeedTask*>& refreshTasks() const { return _refreshTasks; }
    const QList<FeedTask*>& manualEnclosureTasks() const { return _manualEnclosureTasks; }
    const QList<FeedTask*>& optionalEnclosureTasks() const { return _optionalEnclosureTasks; }

signals:
    void taskAdded();

private:
    FeedQueueManager();
    ~FeedQueueManager() override;
    Q_DISABLE_COPY(FeedQueueManager)

    // What makes two enclosure tasks equal: the channel and the enclosure.
    using EnclosureKey = QPair<QString, FeedEnclosure>;
    using EnclosureIndex = QHash<EnclosureKey, FeedTask*>;

    static EnclosureKey keyOf(FeedTask* enclosureTask);
    EnclosureIndex& enclosureIndex(FeedTask::Priority priority);
    // A task enters and leaves a list through these two, so that the index stays in step;
    // clearAll empties lists and index at once.
    void insert(QList<FeedTask*>& tasks, FeedTask* task, EnqueueType enqueueType);
    FeedTask* takeAt(QList<FeedTask*>& tasks, int i);
    // Takes out and deletes the tasks the predicate accepts; only the first when onlyFirst.
    template<typename Predicate>
    bool removeMatching(QList<FeedTask*>& tasks, Predicate matches, bool onlyFirst);

    bool enqueueChannelTask(FeedTask* task, EnqueueType enqueueType);
    bool enqueueEnclosureTask(FeedTask* task, EnqueueType enqueueType);
    bool containsChannel(const QList<FeedTask*>& tasks, const QString& uri);
    bool containsEnclosureTask(FeedTask* task);
    // A list may name one task twice; the second must neither delete a queued task nor touch
    // a deleted one.
    bool holds(FeedTask* task) const;
    bool isEnclosureQueueEmpty(FeedTask::Priority priority);
    QList<FeedTask*>* enclosureList(FeedTask::Priority priority);
    bool removeChannelTask(FeedTask* probe);
    bool removeEnclosureTask(FeedTask* probe, QList<quint64>* refreshes);
    bool removeIndexedTask(QList<FeedTask*>& tasks, FeedTask* probe, QList<quint64>* refreshes);

    static FeedQueueManager* _instance;

    QList<FeedTask*> _subscriptionTasks;
    QList<FeedTask*> _refreshTasks;
    QList<FeedTask*> _essentialEnclosureTasks;
    QList<FeedTask*> _manualEnclosureTasks;
    QList<FeedTask*> _optionalEnclosureTasks;
    // The waiting enclosure tasks by key, so that a request of many enclosures does not scan the
    // lists for each: the duplicate rules leave at most one a key among the essential tasks, and
    // one among the manual and optional tasks together.
    EnclosureIndex _essentialEnclosures;
    EnclosureIndex _downloadEnclosures;
};

#endif
