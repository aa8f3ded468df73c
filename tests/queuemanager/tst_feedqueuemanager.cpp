#include "feedenclosuretask.h"
#include "feedqueuemanager.h"
#include "testenvironment.h"

#include <QSignalSpy>

namespace {

// Queues are written as lists of short words so that a table row reads like the queue it describes:
//   "c5 A"     channel task, priority 5, channel A
//   "e2 A x"   enclosure task, priority 2, channel A, enclosure with remote URL x
// An empty channel or URL is written "-"; "^" in front of a task prepends it.
int liveTasks = 0;

template<typename Task>
class Counted : public Task
{
public:
    template<typename... Arguments>
    explicit Counted(Arguments... arguments)
        : Task(arguments...)
    {
        ++liveTasks;
    }
    ~Counted() override { --liveTasks; }
};

const QString Queued = QStringLiteral("c6 A, c5 A, c4 B, e3 A x, e3 B x, e2 A y, e1 A z, e1 B w");

QStringList list(const QString& text)
{
    return text.isEmpty() ? QStringList() : text.split(QStringLiteral(", "));
}

FeedTask* makeTask(const QString& text)
{
    QStringList words = text.split(' ').replaceInStrings(QRegularExpression("^-$"), QString());
    const auto priority = FeedTask::Priority(words.at(0).mid(1).toInt());
    if (words.at(0).startsWith('c'))
        return new Counted<FeedChannelTask>(priority, words.at(1));
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(words.at(2));
    return new Counted<FeedEnclosureTask>(priority, words.at(1), enclosure);
}

QString describe(FeedTask* task)
{
    if (task->type() == FeedTask::ChannelTaskType)
        return QStringLiteral("c%1 %2").arg(task->priority()).arg(static_cast<FeedChannelTask*>(task)->url());
    auto enclosureTask = static_cast<FeedEnclosureTask*>(task);
    return QStringLiteral("e%1 %2 %3")
        .arg(task->priority())
        .arg(enclosureTask->channel(), enclosureTask->enclosure().remoteUrl());
}

// Returns whether each task was added, as "+" and "-".
QString enqueueAll(FeedQueueManager* queue, const QString& tasks)
{
    QString results;
    for (const QString& text : list(tasks)) {
        const bool prepend = text.startsWith('^');
        FeedTask* task = makeTask(text.mid(prepend ? 1 : 0));
        const bool added = queue->enqueueTask(task, prepend ? EnqueuePrepend : EnqueueAppend);
        results += added ? '+' : '-';
        if (!added)
            delete task;
    }
    return results;
}

QString drain(FeedQueueManager* queue)
{
    QStringList order;
    while (!queue->isEmpty(FeedTask::AnyTaskType, FeedTask::AnyPriority)) {
        QScopedPointer<FeedTask> task(queue->dequeueTask(FeedTask::AnyTaskType));
        order << describe(task.data());
    }
    return order.join(QStringLiteral(", "));
}

// Does one operation on the queue: "clear all", "clear <channel> essential|all", "dequeue" or
// "remove <probe task>"; what removeTask answered, false for the others.
bool operate(FeedQueueManager* queue, const QString& operation)
{
    const QStringList words = operation.split(' ');
    if (operation == "clear all") {
        queue->clearAll();
    } else if (words.at(0) == "clear") {
        queue->clearChannel(words.at(1), words.at(2) == "essential");
    } else if (operation == "dequeue") {
        delete queue->dequeueTask(FeedTask::AnyTaskType);
    } else if (words.at(0) == "remove") {
        const QScopedPointer<FeedTask> probe(makeTask(words.mid(1).join(' ')));
        return queue->removeTask(probe.data());
    }
    return false;
}

} // namespace

class tst_FeedQueueManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestEnvironment::failOnConnectWarnings(); }
    void init() { _queue = FeedQueueManager::instance(); }
    void cleanup();

    void ordersAndRefusesDuplicates_data();
    void ordersAndRefusesDuplicates();
    void removes_data();
    void removes();
    void refusesOnlyWhatStillWaits_data();
    void refusesOnlyWhatStillWaits();
    void isEmptyAndDequeue_data();
    void isEmptyAndDequeue();
    void listFormWakesOnceAndDeletesRefused_data();
    void listFormWakesOnceAndDeletesRefused();
    void addedTaskIsAnnouncedAtOnce();

private:
    FeedQueueManager* _queue = nullptr;
};

void tst_FeedQueueManager::cleanup()
{
    FeedQueueManager::releaseInstance();
    QCOMPARE(liveTasks, 0);
}

void tst_FeedQueueManager::ordersAndRefusesDuplicates_data()
{
    QTest::addColumn<QString>("tasks");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QString>("order");
    QTest::newRow("manual refresh while automatic waits") << "c4 A, c5 A" << "+-" << "c4 A";
    QTest::newRow("automatic refresh while manual waits") << "c5 A, c4 A" << "+-" << "c5 A";
    QTest::newRow("refreshes keep arrival order") << "c4 A, c5 B, c4 C" << "+++" << "c4 A, c5 B, c4 C";
    QTest::newRow("subscription beside waiting refresh") << "c5 A, c6 A" << "++" << "c6 A, c5 A";
    QTest::newRow("second subscription") << "c6 A, c6 A" << "+-" << "c6 A";
    QTest::newRow("channel match is exact") << "c5 A, c5 A/, c5 a" << "+++" << "c5 A, c5 A/, c5 a";
    QTest::newRow("manual enclosure while optional waits") << "e1 A x, e2 A x" << "+-" << "e1 A x";
    QTest::newRow("optional enclosure while manual waits") << "e2 A x, e1 A x" << "+-" << "e2 A x";
    QTest::newRow("essential beside manual and optional") << "e2 A x, e3 A x, e3 A x" << "++-" << "e3 A x, e2 A x";
    QTest::newRow("same enclosure, two channels") << "e3 A x, e3 B x" << "++" << "e3 A x, e3 B x";
    QTest::newRow("prepend goes before older tasks") << "e1 A x, e1 A y, ^e1 A z" << "+++" << "e1 A z, e1 A x, e1 A y";
    QTest::newRow("prepend of a refresh") << "c5 A, ^c4 B" << "++" << "c4 B, c5 A";
    QTest::newRow("bands in order") << "e1 A x, e2 A y, e3 A z, c4 B, c5 C, c6 D" << "++++++"
                                    << "c6 D, c4 B, c5 C, e3 A z, e2 A y, e1 A x";
    QTest::newRow("priority that does not fit the kind") << "c3 A, c0 A, e4 A x, e0 A x" << "----" << "";
    QTest::newRow("empty channel or URL") << "c5 -, e3 A -, e3 - x" << "--+" << "e3  x";
    QStringList many;
    for (int i = 0; i < 200; ++i)
        many << QStringLiteral("e2 A x%1").arg(i);
    QTest::newRow("duplicate among many") << many.join(", ") + ", e1 A x150" << QString(200, '+') + '-'
                                          << many.join(", ");
}

void tst_FeedQueueManager::ordersAndRefusesDuplicates()
{
    QFETCH(QString, tasks);
    QFETCH(QString, results);
    QFETCH(QString, order);
    QSignalSpy added(_queue, &FeedQueueManager::taskAdded);
    QCOMPARE(enqueueAll(_queue, tasks), results);
    QCOMPARE(added.count(), results.count('+'));
    QCOMPARE(drain(_queue), order);
}

void tst_FeedQueueManager::removes_data()
{
    // Each row starts from the same queue and names what the operation took out of it.
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<QString>("gone");
    QTest::newRow("clear channel, essential only") << "clear A essential" << false << "c6 A, c5 A, e3 A x";
    QTest::newRow("clear channel") << "clear A all" << false << "c6 A, c5 A, e3 A x, e2 A y, e1 A z";
    QTest::newRow("clear unknown channel") << "clear C all" << false << "";
    QTest::newRow("probe any enclosure, any channel") << "remove e0 - x" << true << "e3 A x, e3 B x";
    QTest::newRow("probe enclosure in one band") << "remove e3 B x" << true << "e3 B x";
    QTest::newRow("probe enclosure, wrong band") << "remove e2 A x" << false << "";
    QTest::newRow("probe channel, any band") << "remove c0 A" << true << "c6 A, c5 A";
    QTest::newRow("probe subscription") << "remove c6 A" << true << "c6 A";
    QTest::newRow("probe refresh of either priority") << "remove c5 B" << true << "c4 B";
    QTest::newRow("clear all") << "clear all" << false << Queued;
}

void tst_FeedQueueManager::removes()
{
    QFETCH(QString, operation);
    QFETCH(bool, removed);
    QFETCH(QString, gone);
    enqueueAll(_queue, Queued);
    QCOMPARE(operate(_queue, operation), removed);
    QStringList left = list(Queued);
    for (const QString& task : list(gone))
        left.removeOne(task);
    // What the queue dropped, it deleted.
    QCOMPARE(liveTasks, left.size());
    QCOMPARE(drain(_queue), left.join(", "));
}

void tst_FeedQueueManager::refusesOnlyWhatStillWaits_data()
{
    // The tasks are queued, the operation is done, and the same tasks are queued again: a copy is
    // refused exactly while its task still waits.
    QTest::addColumn<QString>("tasks");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("again");
    const QString tasks = QStringLiteral("e3 A x, e2 A y, e1 B z");
    QTest::newRow("dequeued") << tasks << "dequeue" << "+--";
    QTest::newRow("dequeued from the front") << "e2 A x, ^e2 A y" << "dequeue" << "-+";
    QTest::newRow("removed by probe") << tasks << "remove e2 A y" << "-+-";
    QTest::newRow("probe of another band") << tasks << "remove e1 A y" << "---";
    QTest::newRow("removed by enclosure") << "e3 A x, e2 B x, e1 B z" << "remove e0 - x" << "++-";
    QTest::newRow("channel's essential tasks cleared") << "e3 A x, e2 A y, e3 B z" << "clear A essential" << "+--";
    QTest::newRow("channel cleared") << "e3 A x, e2 A y, e3 B z" << "clear A all" << "++-";
    QTest::newRow("all cleared") << tasks << "clear all" << "+++";
}

void tst_FeedQueueManager::refusesOnlyWhatStillWaits()
{
    QFETCH(QString, tasks);
    QFETCH(QString, operation);
    QFETCH(QString, again);
    enqueueAll(_queue, tasks);
    operate(_queue, operation);
    QCOMPARE(enqueueAll(_queue, tasks), again);
}

void tst_FeedQueueManager::isEmptyAndDequeue_data()
{
    // What isEmpty(kind, priority) says, and the first task dequeueTask(kind) gives.
    QTest::addColumn<QString>("tasks");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("priority");
    QTest::addColumn<bool>("empty");
    QTest::addColumn<QString>("first");
    const int channel = FeedTask::ChannelTaskType;
    const int enclosure = FeedTask::EnclosureTaskType;
    const int any = FeedTask::AnyTaskType;
    const QString mixed = QStringLiteral("e1 A x, e3 A z, c5 C, c6 D");
    QTest::newRow("nothing queued") << "" << any << 0 << true << "";
    QTest::newRow("channel kind ignores priority") << "c5 A" << channel << 2 << false << "c5 A";
    QTest::newRow("enclosure band 2, only band 1 queued") << "e1 A x" << enclosure << 2 << true << "e1 A x";
    QTest::newRow("enclosure band 1") << "e1 A x" << enclosure << 1 << false << "e1 A x";
    QTest::newRow("priority 5 means every enclosure band") << "e1 A x" << enclosure << 5 << false << "e1 A x";
    QTest::newRow("enclosure kind, only channels queued") << "c6 A" << enclosure << 0 << true << "";
    QTest::newRow("channel first") << mixed << channel << 0 << false << "c6 D";
    QTest::newRow("enclosure first") << mixed << enclosure << 0 << false << "e3 A z";
    QTest::newRow("any first") << mixed << any << 0 << false << "c6 D";
}

void tst_FeedQueueManager::isEmptyAndDequeue()
{
    QFETCH(QString, tasks);
    QFETCH(int, kind);
    QFETCH(int, priority);
    QFETCH(bool, empty);
    QFETCH(QString, first);
    enqueueAll(_queue, tasks);
    QCOMPARE(_queue->isEmpty(FeedTask::Type(kind), FeedTask::Priority(priority)), empty);
    if (first.isEmpty())
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Use isEmpty before calling dequeue !"));
    QScopedPointer<FeedTask> task(_queue->dequeueTask(FeedTask::Type(kind)));
    QCOMPARE(task ? describe(task.data()) : QString(), first);
}

void tst_FeedQueueManager::listFormWakesOnceAndDeletesRefused_data()
{
    QTest::addColumn<QString>("tasks");
    QTest::addColumn<bool>("added");
    QTest::addColumn<int>("kept");
    QTest::newRow("all accepted") << "e3 A x, e3 A y, e3 A z" << true << 3;
    QTest::newRow("duplicates inside") << "e3 A x, e3 A x, e1 A y, e2 A y" << true << 2;
    QTest::newRow("all refused") << "e3 A -, e5 A x" << false << 0;
    QTest::newRow("empty list") << "" << false << 0;
    // "=" names the task before it once more.
    QTest::newRow("accepted task named twice") << "e3 A x, =" << true << 1;
    QTest::newRow("refused task named twice") << "e3 A -, =" << false << 0;
}

// Fault guarded: the tasks a list enqueue refused were never deleted.
void tst_FeedQueueManager::listFormWakesOnceAndDeletesRefused()
{
    QFETCH(QString, tasks);
    QFETCH(bool, added);
    QFETCH(int, kept);
    QList<FeedTask*> tasksToAdd;
    for (const QString& text : list(tasks))
        tasksToAdd << (text == "=" ? tasksToAdd.last() : makeTask(text));
    QSignalSpy spy(_queue, &FeedQueueManager::taskAdded);
    QCOMPARE(_queue->enqueueTask(tasksToAdd), added);
    QCOMPARE(spy.count(), added ? 1 : 0);
    QCOMPARE(liveTasks, kept);
    QVERIFY(!_queue->signalsBlocked());
}

// The task is in the queue by the time its signal goes out.
void tst_FeedQueueManager::addedTaskIsAnnouncedAtOnce()
{
    QStringList seen;
    connect(_queue, &FeedQueueManager::taskAdded, this, [this, &seen]() { seen << drain(_queue); });
    enqueueAll(_queue, "c5 A, e3 A x");
    QCOMPARE(seen, QStringList({"c5 A", "e3 A x"}));
}

VIRELON_TEST_MAIN(tst_FeedQueueManager)

#include "tst_feedqueuemanager.moc"
