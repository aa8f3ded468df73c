#include "feedchanneltask.h"
#include "feedcurrenttask.h"
#include "testenvironment.h"

namespace {

int liveTasks = 0;

class CountedTask : public FeedChannelTask
{
public:
    CountedTask()
        : FeedChannelTask(ManualRefreshPriority, QStringLiteral("urn:channel:1"))
    {
        ++liveTasks;
    }
    ~CountedTask() override { --liveTasks; }
};

} // namespace

class tst_FeedCurrentTask : public QObject
{
    Q_OBJECT

private slots:
    void init() { liveTasks = 0; }
    void strongestStopWins_data();
    void strongestStopWins();
    void ticketsTellRunsApart();
    void ownership();
};

void tst_FeedCurrentTask::strongestStopWins_data()
{
    QTest::addColumn<QList<int>>("marks");
    QTest::addColumn<int>("reason");
    QTest::newRow("none") << QList<int>() << int(FeedCurrentTask::NotStopped);
    QTest::newRow("scheduler pause") << QList<int>{FeedCurrentTask::SchedulerPause} << int(FeedCurrentTask::SchedulerPause);
    QTest::newRow("user pause over scheduler pause")
        << QList<int>{FeedCurrentTask::SchedulerPause, FeedCurrentTask::UserPause} << int(FeedCurrentTask::UserPause);
    QTest::newRow("a pause after a cancel stays a cancel")
        << QList<int>{FeedCurrentTask::Cancel, FeedCurrentTask::SchedulerPause, FeedCurrentTask::UserPause}
        << int(FeedCurrentTask::Cancel);
}

void tst_FeedCurrentTask::strongestStopWins()
{
    QFETCH(QList<int>, marks);
    QFETCH(int, reason);
    FeedCurrentTask current;
    current.start(new CountedTask);
    for (int mark : marks)
        current.markStopped(FeedCurrentTask::StopReason(mark));
    QCOMPARE(int(current.stopReason()), reason);
    // A new run starts unmarked.
    current.markDropped();
    current.start(new CountedTask);
    QCOMPARE(current.stopReason(), FeedCurrentTask::NotStopped);
    QVERIFY(!current.isDropped());
}

void tst_FeedCurrentTask::ticketsTellRunsApart()
{
    FeedCurrentTask current;
    QVERIFY(!current.isCurrent(current.ticket()));
    current.start(new CountedTask);
    const quint64 first = current.ticket();
    QVERIFY(current.isCurrent(first));
    QScopedPointer<FeedTask> handedBack(current.release());
    QVERIFY(!current.isCurrent(first));
    // The same task started again is another run.
    current.start(handedBack.take());
    QVERIFY(!current.isCurrent(first));
    QVERIFY(current.isCurrent(current.ticket()));
}

// Released, the task is the caller's; finished or left behind, it is deleted.
void tst_FeedCurrentTask::ownership()
{
    {
        FeedCurrentTask current;
        current.start(new CountedTask);
        QScopedPointer<FeedTask> released(current.release());
        QVERIFY(!current.isSet() && !current.channelTask());
        QCOMPARE(liveTasks, 1);
        current.start(new CountedTask);
        current.finish();
        QCOMPARE(liveTasks, 1);
        current.start(new CountedTask);
    }
    QCOMPARE(liveTasks, 0);
}

VIRELON_TEST_MAIN(tst_FeedCurrentTask)
#include "tst_feedcurrenttask.moc"
