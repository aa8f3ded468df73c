#include "feeddownloadmanager.h"
#include "httpfixture.h"
#include "testenvironment.h"

#include <QBuffer>
#include <QSignalSpy>

class tst_FeedDownloadManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rawHeadersLastOneRequest();
    void refusedSchemeEndsAfterStartReturns();
    void newerRequestSilencesOlder();
    void idlePauseAndStopSayNothing();
    void resumeWithoutFileStartsOver();
    void resumeOfCompleteFile();
    void partialAnswers_data();
    void partialAnswers();
    void errorTextSurvives();
    void stallEndsWithTimeout();

private:
    static QNetworkReply* takeReply(QSignalSpy& spy);
};

void tst_FeedDownloadManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
}

QNetworkReply* tst_FeedDownloadManager::takeReply(QSignalSpy& spy)
{
    auto* reply = spy.takeFirst().first().value<QNetworkReply*>();
    reply->deleteLater();
    return reply;
}

void tst_FeedDownloadManager::rawHeadersLastOneRequest()
{
    HttpFixture http;
    http.serve(QStringLiteral("/a"), "a", "text/plain");
    FeedDownloadManager manager;
    QSignalSpy finished(&manager, &FeedDownloadManager::finished);
    QBuffer buffer;
    manager.setAcceptHeader(QStringLiteral("text/plain"));
    manager.setRawHeader("X-Once", "1");
    manager.setRawHeader("X-Empty", "");
    manager.setRawHeader("X-Split", "a\r\nX-Smuggled: 1");
    manager.start(http.url(QStringLiteral("/a")), &buffer);
    QTRY_COMPARE(finished.count(), 1);
    manager.start(http.url(QStringLiteral("/a")), &buffer);
    QTRY_COMPARE(finished.count(), 2);
    const QList<HttpFixture::Request> requests = http.requests();
    QCOMPARE(requests.at(0).header("X-Once"), QByteArray("1"));
    QVERIFY(!requests.at(0).hasHeader("X-Empty"));
    QVERIFY(!requests.at(0).hasHeader("X-Split"));
    QVERIFY(!requests.at(0).hasHeader("X-Smuggled"));
    QVERIFY(!requests.at(1).hasHeader("X-Once"));
    QCOMPARE(requests.at(1).header("Accept"), QByteArray("text/plain"));
    QCOMPARE(buffer.data(), QByteArray("a"));
}

void tst_FeedDownloadManager::refusedSchemeEndsAfterStartReturns()
{
    FeedDownloadManager manager;
    QSignalSpy finished(&manager, &FeedDownloadManager::finished);
    QBuffer buffer;
    manager.start(QUrl(QStringLiteral("file:///etc/hostname")), &buffer);
    QCOMPARE(finished.count(), 0);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(takeReply(finished)->error(), QNetworkReply::ProtocolUnknownError);
    QVERIFY(buffer.data().isEmpty());
}

void tst_FeedDownloadManager::newerRequestSilencesOlder()
{
    HttpFixture http;
    HttpFixture::Reply stall;
    stall.body = QByteArray(10000, 'x');
    stall.delivery = HttpFixture::Stall;
    http.setReply(QStringLiteral("/stall"), stall);
    http.serve(QStringLiteral("/b"), "b", "text/plain");
    FeedDownloadManager manager;
    QSignalSpy finished(&manager, &FeedDownloadManager::finished);
    QSignalSpy progress(&manager, &FeedDownloadManager::progress);
    QBuffer buffer;
    manager.start(QUrl(QStringLiteral("ftp://127.0.0.1/x")), &buffer);
    manager.start(http.url(QStringLiteral("/stall")), &buffer);
    QTRY_VERIFY(!progress.isEmpty());
    manager.start(http.url(QStringLiteral("/b")), &buffer);
    QTRY_COMPARE(finished.count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(takeReply(finished)->url(), http.url(QStringLiteral("/b")));
    QCOMPARE(buffer.data(), QByteArray("b"));
}

void tst_FeedDownloadManager::idlePauseAndStopSayNothing()
{
    FeedDownloadManager manager;
    QSignalSpy finished(&manager, &FeedDownloadManager::finished);
    QSignalSpy paused(&manager, &FeedDownloadManager::paused);
    manager.pause();
    manager.stop();
    QCoreApplication::processEvents();
    QCOMPARE(finished.count() + paused.count(), 0);
}

void tst_FeedDownloadManager::resumeWithoutFileStartsOver()
{
    HttpFixture http;
    http.serve(QStringLiteral("/f"), "whole", "text/plain");
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("f.part")));
    FeedDownloadManager manager;
    QSignalSpy finished(&manager, &FeedDownloadManager::finished);
    manager.resume(http.url(QStringLiteral("/f")), &file);
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!http.requests().first().hasHeader("Range"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("whole"));
}

// Paused right after the last byte: the server has nothing left and answers 416.
void tst_FeedDownloadManager::resumeOfCompleteFile()
{
    HttpFixture http;
    http.serve(QStringLiteral("/f"), "whole", "text/plain");
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("f.part")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("whole");
    file.close();
    FeedDownloadManager manager;
    QSignalSpy finished(&manager, &FeedDownloadManager::finished);
    manager.resume(http.url(QStringLiteral("/f")), &file);
    QTRY_COMPARE(finished.count(), 1);
    QNetworkReply* reply = takeReply(finished);
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(), 5);
    QCOMPARE(file.size(), 5);
}

void tst_FeedDownloadManager::partialAnswers_data()
{
    QTest::addColumn<QByteArray>("held");         // the file's first part; empty: a plain start
    QTest::addColumn<QByteArray>("contentRange");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("kept");               // false: fails and leaves the file as it was
    QTest::newRow("unasked, from the start") << QByteArray() << QByteArray("bytes 0-4/5") << QByteArray("whole") << true;
    QTest::newRow("unasked, a middle part") << QByteArray() << QByteArray("bytes 2-4/5") << QByteArray("ole") << false;
    QTest::newRow("resumed at another byte") << QByteArray("who") << QByteArray("bytes 1-4/5") << QByteArray("hole")
                                             << false;
    QTest::newRow("resumed short of the end") << QByteArray("who") << QByteArray("bytes 3-3/5") << QByteArray("l")
                                              << false;
    QTest::newRow("resumed, total unknown") << QByteArray("who") << QByteArray("bytes 3-4/*") << QByteArray("le")
                                            << true;
    QTest::newRow("no range named") << QByteArray("who") << QByteArray() << QByteArray("le") << false;
}

// A 206 completes the file only when it carries exactly the missing end.
void tst_FeedDownloadManager::partialAnswers()
{
    QFETCH(QByteArray, held);
    QFETCH(QByteArray, contentRange);
    QFETCH(QByteArray, body);
    QFETCH(bool, kept);
    HttpFixture http;
    HttpFixture::Reply reply;
    reply.status = 206;
    reply.body = body;
    if (!contentRange.isEmpty())
        reply.addHeader("Content-Range", contentRange);
    http.setReply(QStringLiteral("/f"), reply);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("f.part")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(held);
    file.close();
    FeedDownloadManager manager;
    QSignalSpy finished(&manager, &FeedDownloadManager::finished);
    if (held.isEmpty())
        manager.start(http.url(QStringLiteral("/f")), &file);
    else
        manager.resume(http.url(QStringLiteral("/f")), &file);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(takeReply(finished)->error(), kept ? QNetworkReply::NoError : QNetworkReply::ProtocolFailure);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kept ? QByteArray("whole") : held);
}

void tst_FeedDownloadManager::errorTextSurvives()
{
    HttpFixture http;
    FeedDownloadManager manager;
    QSignalSpy finished(&manager, &FeedDownloadManager::finished);
    QBuffer buffer;
    manager.start(http.url(QStringLiteral("/missing")), &buffer);
    QTRY_COMPARE(finished.count(), 1);
    QNetworkReply* reply = takeReply(finished);
    QCOMPARE(reply->error(), QNetworkReply::ContentNotFoundError);
    QVERIFY(reply->errorString().contains(QLatin1String("Not Found")));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
    QVERIFY(buffer.data().isEmpty());
}

// Qt's own transfer time-out would end as a cancel, which the daemon reads as a user's stop.
void tst_FeedDownloadManager::stallEndsWithTimeout()
{
    HttpFixture http;
    HttpFixture::Reply stall;
    stall.body = QByteArray(5000, 's');
    stall.chunkSize = 100;
    stall.delivery = HttpFixture::Stall;
    http.setReply(QStringLiteral("/stall"), stall);
    FeedDownloadManager manager;
    manager.setStallTimeout(200);
    QSignalSpy finished(&manager, &FeedDownloadManager::finished);
    QBuffer buffer;
    manager.start(http.url(QStringLiteral("/stall")), &buffer);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(takeReply(finished)->error(), QNetworkReply::TimeoutError);
    QCOMPARE(buffer.data(), QByteArray(100, 's'));
}

VIRELON_TEST_MAIN(tst_FeedDownloadManager)
#include "tst_feeddownloadmanager.moc"
