#include "feedenclosuretask.h"
#include "feedqueuemanager.h"
#include "testenvironment.h"

#include <QSignalSpy>

namespace {

// Tasks are written as short words so that a table row reads like the queue it describes:
//   "c5 A"     channel task, priority 5, channel A
//   "e2 A x"   enclosure task, priority 2, channel A, enclosure with remote URL x
// An empty channel or URL is written "-".
int liveTasks = 0;

class CountedChannelTask : public FeedChannelTask
{
public:
    using FeedChannelTask::FeedChannelTask;
    ~CountedChannelTask() override { --liveTasks; }
};

class CountedEnclosureTask : public FeedEnclosureTask
{
public:
    using FeedEnclosureTask::FeedEnclosureTask;
    ~CountedEnclosureTask() override { --liveTasks; }
};

QString field(const QString& word)
{
    return word == "-" ? QString() : word;
}

FeedTask* makeTask(const QString& text)
{
    const QStringList words = text.split(' ');
    const auto priority = FeedTask::Priority(words.at(0).mid(1).toInt());
    ++liveTasks;
    if (words.at(0).startsWith('c'))
        return new CountedChannelTask(priority, field(words.at(1)));
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(field(words.at(2)));
    return new CountedEnclosureTask(priority, field(words.at(1)), enclosure);
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

// Enqueues each word ("^" in front prepends) and returns the results as "+" and "-".
QString enqueueAll(FeedQueueManager* queue, const QStringList& tasks)
{
    QString results;
    for (QString text : tasks) {
        const bool prepend = text.startsWith('^');
        if (prepend)
            text.remove(0, 1);
        FeedTask* task = makeTask(text);
        const bool added = queue->enqueueTask(task, prepend ? EnqueuePrepend : EnqueueAppend);
        results += added ? '+' : '-';
        if (!added)
            delete task;
    }
    return results;
}

QStringList drain(FeedQueueManager* queue)
{
    QStringList order;
    while (!queue->isEmpty(FeedTask::AnyTaskType, FeedTask::AnyPriority)) {
        FeedTask* task = queue->dequeueTask(FeedTask::AnyTaskType);
        order << describe(task);
        delete task;
    }
    return order;
}

} // namespace

class tst_FeedQueueManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void ordersAndRefusesDuplicates_data();
    void ordersAndRefusesDuplicates();
    void removes_data();
    void removes();
    void dequeuesByKind_data();
    void dequeuesByKind();
    void isEmpty_data();
    void isEmpty();
    void listFormWakesOnceAndDeletesRefused_data();
    void listFormWakesOnceAndDeletesRefused();
    void addedTaskIsAnnouncedAtOnce();

private:
    FeedQueueManager* _queue = nullptr;
};

void tst_FeedQueueManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
}

void tst_FeedQueueManager::init()
{
    _queue = FeedQueueManager::instance();
}

void tst_FeedQueueManager::cleanup()
{
    FeedQueueManager::releaseInstance();
    QCOMPARE(liveTasks, 0);
}

void tst_FeedQueueManager::ordersAndRefusesDuplicates_data()
{
    QTest::addColumn<QStringList>("tasks");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("manual refresh while automatic waits") << QStringList{"c4 A", "c5 A"} << "+-" << QStringList{"c4 A"};
    QTest::newRow("automatic refresh while manual waits") << QStringList{"c5 A", "c4 A"} << "+-" << QStringList{"c5 A"};
    QTest::newRow("refreshes keep arrival order") << QStringList{"c4 A", "c5 B", "c4 C"} << "+++"
                                                   << QStringList{"c4 A", "c5 B", "c4 C"};
    QTest::newRow("subscription beside waiting refresh") << QStringList{"c5 A", "c6 A"} << "++"
                                                          << QStringList{"c6 A", "c5 A"};
    QTest::newRow("second subscription") << QStringList{"c6 A", "c6 A"} << "+-" << QStringList{"c6 A"};
    QTest::newRow("channel match is exact") << QStringList{"c5 A", "c5 A/", "c5 a"} << "+++"
                                             << QStringList{"c5 A", "c5 A/", "c5 a"};
    QTest::newRow("manual enclosure while optional waits") << QStringList{"e1 A x", "e2 A x"} << "+-"
                                                            << QStringList{"e1 A x"};
    QTest::newRow("optional enclosure while manual waits") << QStringList{"e2 A x", "e1 A x"} << "+-"
                                                            << QStringList{"e2 A x"};
    QTest::newRow("essential beside manual and optional") << QStringList{"e2 A x", "e3 A x", "e3 A x"} << "++-"
                                                           << QStringList{"e3 A x", "e2 A x"};
    QTest::newRow("same enclosure, two channels") << QStringList{"e3 A x", "e3 B x"} << "++"
                                                   << QStringList{"e3 A x", "e3 B x"};
    QTest::newRow("prepend goes before older tasks") << QStringList{"e1 A x", "e1 A y", "^e1 A z"} << "+++"
                                                      << QStringList{"e1 A z", "e1 A x", "e1 A y"};
    QTest::newRow("prepend of a refresh") << QStringList{"c5 A", "^c4 B"} << "++" << QStringList{"c4 B", "c5 A"};
    QTest::newRow("bands in order") << QStringList{"e1 A x", "e2 A y", "e3 A z", "c4 B", "c5 C", "c6 D"}
                                    << "++++++"
                                    << QStringList{"c6 D", "c4 B", "c5 C", "e3 A z", "e2 A y", "e1 A x"};
    QTest::newRow("priority that does not fit the kind") << QStringList{"c3 A", "c0 A", "e4 A x", "e0 A x"}
                                                          << "----" << QStringList{};
    QTest::newRow("empty channel or URL") << QStringList{"c5 -", "e3 A -", "e3 - x"} << "--+"
                                           << QStringList{"e3  x"};
}

void tst_FeedQueueManager::ordersAndRefusesDuplicates()
{
    QFETCH(QStringList, tasks);
    QFETCH(QString, results);
    QFETCH(QStringList, order);
    QCOMPARE(enqueueAll(_queue, tasks), results);
    QCOMPARE(drain(_queue), order);
}

void tst_FeedQueueManager::removes_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<QStringList>("left");
    // Queued before each row: c6 A, c5 A, c4 B, e3 A x, e3 B x, e2 A y, e1 A z, e1 B w.
    QTest::newRow("clear channel, essential only") << "clear A essential" << false
                                                    << QStringList{"c4 B", "e3 B x", "e2 A y", "e1 A z", "e1 B w"};
    QTest::newRow("clear channel") << "clear A all" << false << QStringList{"c4 B", "e3 B x", "e1 B w"};
    QTest::newRow("clear unknown channel") << "clear C all" << false
                                            << QStringList{"c6 A", "c5 A", "c4 B", "e3 A x", "e3 B x",
                                                           "e2 A y", "e1 A z", "e1 B w"};
    QTest::newRow("probe any enclosure, any channel") << "remove e0 - x" << true
                                                       << QStringList{"c6 A", "c5 A", "c4 B", "e2 A y", "e1 A z",
                                                                      "e1 B w"};
    QTest::newRow("probe enclosure in one band") << "remove e3 B x" << true
                                                  << QStringList{"c6 A", "c5 A", "c4 B", "e3 A x", "e2 A y",
                                                                 "e1 A z", "e1 B w"};
    QTest::newRow("probe enclosure, wrong band") << "remove e2 A x" << false
                                                  << QStringList{"c6 A", "c5 A", "c4 B", "e3 A x", "e3 B x",
                                                                 "e2 A y", "e1 A z", "e1 B w"};
    QTest::newRow("probe channel, any band") << "remove c0 A" << true
                                              << QStringList{"c4 B", "e3 A x", "e3 B x", "e2 A y", "e1 A z",
                                                             "e1 B w"};
    QTest::newRow("probe subscription") << "remove c6 A" << true
                                         << QStringList{"c5 A", "c4 B", "e3 A x", "e3 B x", "e2 A y", "e1 A z",
                                                        "e1 B w"};
    QTest::newRow("probe refresh of either priority") << "remove c5 B" << true
                                                       << QStringList{"c6 A", "c5 A", "e3 A x", "e3 B x", "e2 A y",
                                                                      "e1 A z", "e1 B w"};
    QTest::newRow("clear all") << "clear all" << false << QStringList{};
}

void tst_FeedQueueManager::removes()
{
    QFETCH(QString, operation);
    QFETCH(bool, removed);
    QFETCH(QStringList, left);
    enqueueAll(_queue, {"c6 A", "c5 A", "c4 B", "e3 A x", "e3 B x", "e2 A y", "e1 A z", "e1 B w"});
    const int before = liveTasks;
    const QStringList words = operation.split(' ');
    if (operation == "clear all") {
        _queue->clearAll();
    } else if (words.at(0) == "clear") {
        _queue->clearChannel(words.at(1), words.at(2) == "essential");
    } else {
        FeedTask* probe = makeTask(words.mid(1).join(' '));
        QCOMPARE(_queue->removeTask(probe), removed);
        delete probe;
    }
    // What the queue dropped, it deleted.
    QCOMPARE(liveTasks, left.size());
    QVERIFY(liveTasks <= before);
    QCOMPARE(drain(_queue), left);
}

void tst_FeedQueueManager::dequeuesByKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("first");
    QTest::newRow("channel") << int(FeedTask::ChannelTaskType) << "c6 D";
    QTest::newRow("enclosure") << int(FeedTask::EnclosureTaskType) << "e3 A z";
    QTest::newRow("any") << int(FeedTask::AnyTaskType) << "c6 D";
}

void tst_FeedQueueManager::dequeuesByKind()
{
    QFETCH(int, kind);
    QFETCH(QString, first);
    enqueueAll(_queue, {"e1 A x", "e3 A z", "c5 C", "c6 D"});
    FeedTask* task = _queue->dequeueTask(FeedTask::Type(kind));
    QCOMPARE(describe(task), first);
    delete task;
    _queue->clearAll();
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Use isEmpty before calling dequeue !"));
    QCOMPARE(_queue->dequeueTask(FeedTask::Type(kind)), nullptr);
}

void tst_FeedQueueManager::isEmpty_data()
{
    QTest::addColumn<QStringList>("tasks");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("priority");
    QTest::addColumn<bool>("empty");
    QTest::newRow("nothing queued") << QStringList{} << 3 << 0 << true;
    QTest::newRow("channel kind ignores priority") << QStringList{"c5 A"} << 1 << 2 << false;
    QTest::newRow("enclosure band 2, only band 1 queued") << QStringList{"e1 A x"} << 2 << 2 << true;
    QTest::newRow("enclosure band 1") << QStringList{"e1 A x"} << 2 << 1 << false;
    QTest::newRow("priority 5 means every enclosure band") << QStringList{"e1 A x"} << 2 << 5 << false;
    QTest::newRow("enclosure kind, only channels queued") << QStringList{"c6 A"} << 2 << 0 << true;
    QTest::newRow("any kind") << QStringList{"e3 A x"} << 3 << 0 << false;
}

void tst_FeedQueueManager::isEmpty()
{
    QFETCH(QStringList, tasks);
    QFETCH(int, kind);
    QFETCH(int, priority);
    QFETCH(bool, empty);
    enqueueAll(_queue, tasks);
    QCOMPARE(_queue->isEmpty(FeedTask::Type(kind), FeedTask::Priority(priority)), empty);
}

void tst_FeedQueueManager::listFormWakesOnceAndDeletesRefused_data()
{
    QTest::addColumn<QStringList>("tasks");
    QTest::addColumn<bool>("added");
    QTest::addColumn<int>("wakeUps");
    QTest::addColumn<int>("kept");
    QTest::newRow("all accepted") << QStringList{"e3 A x", "e3 A y", "e3 A z"} << true << 1 << 3;
    QTest::newRow("duplicates inside") << QStringList{"e3 A x", "e3 A x", "e1 A y", "e2 A y"} << true << 1 << 2;
    QTest::newRow("all refused") << QStringList{"e3 A -", "e5 A x"} << false << 0 << 0;
    QTest::newRow("empty list") << QStringList{} << false << 0 << 0;
    // "=" names the task before it once more.
    QTest::newRow("accepted task named twice") << QStringList{"e3 A x", "="} << true << 1 << 1;
    QTest::newRow("refused task named twice") << QStringList{"e3 A -", "="} << false << 0 << 0;
}

// Fault guarded: the tasks a list enqueue refused were never deleted.
void tst_FeedQueueManager::listFormWakesOnceAndDeletesRefused()
{
    QFETCH(QStringList, tasks);
    QFETCH(bool, added);
    QFETCH(int, wakeUps);
    QFETCH(int, kept);
    QList<FeedTask*> list;
    for (const QString& text : tasks)
        list << (text == "=" ? list.last() : makeTask(text));
    QSignalSpy spy(_queue, &FeedQueueManager::taskAdded);
    QCOMPARE(_queue->enqueueTask(list), added);
    QCOMPARE(spy.count(), wakeUps);
    QCOMPARE(liveTasks, kept);
    QVERIFY(!_queue->signalsBlocked());
}

void tst_FeedQueueManager::addedTaskIsAnnouncedAtOnce()
{
    QStringList seen;
    connect(_queue, &FeedQueueManager::taskAdded, this, [this, &seen]() {
        FeedTask* task = _queue->dequeueTask(FeedTask::AnyTaskType);
        seen << describe(task);
        delete task;
    });
    enqueueAll(_queue, {"c5 A"});
    QCOMPARE(seen, QStringList{"c5 A"});
}

VIRELON_TEST_MAIN(tst_FeedQueueManager)

#include "tst_feedqueuemanager.moc"
