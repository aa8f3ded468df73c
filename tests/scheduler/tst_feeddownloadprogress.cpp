#include "feeddownloadprogress.h"
#include "testenvironment.h"

class tst_FeedDownloadProgress : public QObject
{
    Q_OBJECT

private slots:
    void timeRemaining_data();
    void timeRemaining();
};

void tst_FeedDownloadProgress::timeRemaining_data()
{
    QTest::addColumn<qlonglong>("before"); // bytes of the file when the download started
    QTest::addColumn<qlonglong>("last");   // received at the report before, or -1 for none
    QTest::addColumn<qlonglong>("elapsed");
    QTest::addColumn<qlonglong>("received");
    QTest::addColumn<qlonglong>("total");
    QTest::addColumn<qlonglong>("remaining");
    QTest::newRow("the last interval's rate") << 0LL << 100000LL << 2000LL << 300000LL << 1000000LL << 7LL;
    QTest::newRow("seconds truncated") << 0LL << 2000LL << 2500LL << 6000LL << 16000LL << 6LL;
    QTest::newRow("less than a second") << 0LL << 1000LL << 1500LL << 4000LL << 5000LL << 0LL;
    QTest::newRow("nothing new") << 0LL << 4000LL << 1500LL << 4000LL << 5000LL << 0LL;
    QTest::newRow("the first report counts from the start") << 0LL << -1LL << 1000LL << 1000LL << 5000LL << 4LL;
    QTest::newRow("total reached") << 0LL << 1000LL << 1000LL << 5000LL << 5000LL << 0LL;
    // Fault guarded: an unknown total gave a negative time, and a resumed download's first
    // report took the whole file from before for this interval's bytes.
    QTest::newRow("total unknown") << 0LL << 4000LL << 1000LL << 5000LL << -1LL << 0LL;
    QTest::newRow("more than the total") << 0LL << 4000LL << 1000LL << 6000LL << 5000LL << 0LL;
    QTest::newRow("resumed") << 5000LL << -1LL << 1000LL << 6000LL << 10000LL << 4LL;
    QTest::newRow("a total far beyond any file") << 0LL << 0LL << 1000000000000LL << 1LL << (1LL << 62) << 9223372036854775LL;
}

void tst_FeedDownloadProgress::timeRemaining()
{
    QFETCH(qlonglong, before);
    QFETCH(qlonglong, last);
    QFETCH(qlonglong, elapsed);
    QFETCH(qlonglong, received);
    QFETCH(qlonglong, total);
    QFETCH(qlonglong, remaining);
    FeedDownloadProgress progress;
    progress.start(before);
    if (last >= 0)
        progress.timeRemaining(last, total, 1);
    QCOMPARE(progress.timeRemaining(received, total, elapsed), remaining);
}

VIRELON_TEST_MAIN(tst_FeedDownloadProgress)
#include "tst_feeddownloadprogress.moc"
