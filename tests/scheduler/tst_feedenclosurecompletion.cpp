#include "feedenclosurecompletion.h"
#include "feedenclosuretask.h"
#include "feedqueuemanager.h"
#include "testenvironment.h"

// Rows are steps on channel A: "expect 2", "done 3" (a download of that priority succeeded),
// "failed 1", "unrun" (an essential download left the queue unrun), "forget", "forgetAll",
// "complete", "wait" (a manual download waits in the queue). The signals come in order:
// "completed", "downloaded", "failed 402", "state 2".
class tst_FeedEnclosureCompletion : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void steps_data();
    void steps();
};

void tst_FeedEnclosureCompletion::cleanup()
{
    FeedQueueManager::instance()->clearAll();
}

void tst_FeedEnclosureCompletion::steps_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("told");
    QTest::newRow("the refresh completes before its last download is told")
        << QStringList{"expect 2", "done 3", "failed 3"} << QStringList{"downloaded", "completed"};
    QTest::newRow("an essential failure tells only the count")
        << QStringList{"expect 1", "failed 3"} << QStringList{"completed"};
    QTest::newRow("manual downloads: the last one ends them")
        << QStringList{"done 2", "failed 2"} << QStringList{"downloaded", "state 2", "state 2", "failed 402"};
    QTest::newRow("a manual download that waits keeps them going")
        << QStringList{"wait", "done 2"} << QStringList{"downloaded"};
    QTest::newRow("optional downloads tell their own end only")
        << QStringList{"done 1", "failed 1"} << QStringList{"downloaded", "failed 402"};
    QTest::newRow("downloads taken out unrun end the count")
        << QStringList{"expect 2", "unrun", "unrun"} << QStringList{"completed"};
    QTest::newRow("forgotten refreshes complete nothing")
        << QStringList{"expect 1", "forget", "done 3", "expect 1", "forgetAll", "unrun"} << QStringList{"downloaded"};
    QTest::newRow("nothing to download") << QStringList{"complete"} << QStringList{"completed"};
}

void tst_FeedEnclosureCompletion::steps()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, told);
    FeedEnclosureCompletion completion(FeedQueueManager::instance());
    QStringList heard;
    connect(&completion, &FeedEnclosureCompletion::refreshCompleted, this, [&] { heard << "completed"; });
    connect(&completion, &FeedEnclosureCompletion::enclosureDownloaded, this, [&] { heard << "downloaded"; });
    connect(&completion, &FeedEnclosureCompletion::enclosureDownloadFailed, this,
            [&](const QString&, const FeedEnclosure&, int code) { heard << QStringLiteral("failed %1").arg(code); });
    connect(&completion, &FeedEnclosureCompletion::refreshState, this,
            [&](int state) { heard << QStringLiteral("state %1").arg(state); });
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(QStringLiteral("http://127.0.0.1/a.png"));
    quint64 refresh = 0;
    for (const QString& step : steps) {
        const QString verb = step.section(' ', 0, 0);
        const auto priority = FeedTask::Priority(step.section(' ', 1).toInt());
        // Only essential downloads count for a refresh.
        const quint64 counted = priority == FeedTask::EssentialEnclosurePriority ? refresh : 0;
        if (verb == "expect")
            refresh = completion.expect("A", step.section(' ', 1).toInt());
        else if (verb == "done")
            completion.succeeded("A", enclosure, priority, counted);
        else if (verb == "failed")
            completion.failed("A", enclosure, priority, 402, counted);
        else if (verb == "unrun")
            completion.endedUnrun({refresh});
        else if (verb == "forget")
            completion.forget("A");
        else if (verb == "forgetAll")
            completion.forgetAll();
        else if (verb == "complete")
            completion.complete("A");
        else if (verb == "wait")
            QVERIFY(FeedQueueManager::instance()->enqueueTask(
                new FeedEnclosureTask(FeedTask::ManualEnclosurePriority, "A", enclosure), EnqueueAppend));
    }
    QCOMPARE(heard, told);
}

VIRELON_TEST_MAIN(tst_FeedEnclosureCompletion)
#include "tst_feedenclosurecompletion.moc"
