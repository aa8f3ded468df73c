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
    void init();
    void rawHeadersLastOneRequest();
    void newerRequestSilencesOlder();
    void idlePauseAndStopSayNothing();
    void partialAnswers_data();
    void partialAnswers();
    void failures_data();
    void failures();

private:
    QNetworkReply* takeReply();
    static HttpFixture::Reply stalled(int size);

    QScopedPointer<HttpFixture> _http;
    QScopedPointer<FeedDownloadManager> _manager;
    QScopedPointer<QSignalSpy> _finished;
    QBuffer _buffer;
};

void tst_FeedDownloadManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
}

void tst_FeedDownloadManager::init()
{
    _http.reset(new HttpFixture);
    _manager.reset(new FeedDownloadManager);
    _finished.reset(new QSignalSpy(_manager.data(), &FeedDownloadManager::finished));
    _buffer.close();
    _buffer.setData(QByteArray());
}

QNetworkReply* tst_FeedDownloadManager::takeReply()
{
    auto* reply = _finished->takeFirst().first().value<QNetworkReply*>();
    reply->deleteLater();
    return reply;
}

HttpFixture::Reply tst_FeedDownloadManager::stalled(int size)
{
    HttpFixture::Reply stall;
    stall.body = QByteArray(size, 's');
    stall.chunkSize = 100;
    stall.delivery = HttpFixture::Stall;
    return stall;
}

void tst_FeedDownloadManager::rawHeadersLastOneRequest()
{
    _http->serve(QStringLiteral("/a"), "a", "text/plain");
    _manager->setAcceptHeader(QStringLiteral("text/plain"));
    _manager->setRawHeader("X-Once", "1");
    _manager->setRawHeader("X-Empty", "");
    _manager->setRawHeader("X-Split", "a\r\nX-Smuggled: 1");
    _manager->start(_http->url(QStringLiteral("/a")), &_buffer);
    QTRY_COMPARE(_finished->count(), 1);
    _manager->start(_http->url(QStringLiteral("/a")), &_buffer);
    QTRY_COMPARE(_finished->count(), 2);
    const QList<HttpFixture::Request> requests = _http->requests();
    QCOMPARE(requests.at(0).header("X-Once"), QByteArray("1"));
    QVERIFY(!requests.at(0).hasHeader("X-Empty"));
    QVERIFY(!requests.at(0).hasHeader("X-Split"));
    QVERIFY(!requests.at(0).hasHeader("X-Smuggled"));
    QVERIFY(!requests.at(1).hasHeader("X-Once"));
    QCOMPARE(requests.at(1).header("Accept"), QByteArray("text/plain"));
}

void tst_FeedDownloadManager::newerRequestSilencesOlder()
{
    _http->setReply(QStringLiteral("/stall"), stalled(10000));
    _http->serve(QStringLiteral("/b"), "b", "text/plain");
    QSignalSpy progress(_manager.data(), &FeedDownloadManager::progress);
    _manager->start(QUrl(QStringLiteral("ftp://127.0.0.1/x")), &_buffer);
    _manager->start(_http->url(QStringLiteral("/stall")), &_buffer);
    QTRY_VERIFY(!progress.isEmpty());
    _manager->start(_http->url(QStringLiteral("/b")), &_buffer);
    QTRY_COMPARE(_finished->count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(_finished->count(), 1);
    QCOMPARE(takeReply()->url(), _http->url(QStringLiteral("/b")));
    QCOMPARE(_buffer.data(), QByteArray("b"));
}

void tst_FeedDownloadManager::idlePauseAndStopSayNothing()
{
    QSignalSpy paused(_manager.data(), &FeedDownloadManager::paused);
    _manager->pause();
    _manager->stop();
    QCoreApplication::processEvents();
    QCOMPARE(_finished->count() + paused.count(), 0);
}

void tst_FeedDownloadManager::partialAnswers_data()
{
    QTest::addColumn<QByteArray>("held");         // the file's first part; null: no file
    QTest::addColumn<bool>("resume");
    QTest::addColumn<int>("status");             // 200: the fixture answers a Range itself
    QTest::addColumn<QByteArray>("contentRange");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("kept");               // false: fails and leaves the file as it was
    const QByteArray none;
    const QByteArray who("who");
    QTest::newRow("resume without a file starts over") << none << true << 200 << none << QByteArray("whole") << true;
    // Paused right after the last byte: the server has nothing left and answers 416.
    QTest::newRow("resume of a complete file") << QByteArray("whole") << true << 200 << none << QByteArray("whole")
                                               << true;
    QTest::newRow("unasked, from the start") << none << false << 206 << QByteArray("bytes 0-4/5")
                                             << QByteArray("whole") << true;
    QTest::newRow("unasked, a middle part") << none << false << 206 << QByteArray("bytes 2-4/5") << QByteArray("ole")
                                            << false;
    QTest::newRow("resumed at another byte") << who << true << 206 << QByteArray("bytes 1-4/5") << QByteArray("hole")
                                             << false;
    QTest::newRow("resumed short of the end") << who << true << 206 << QByteArray("bytes 3-3/5") << QByteArray("l")
                                              << false;
    QTest::newRow("resumed, total unknown") << who << true << 206 << QByteArray("bytes 3-4/*") << QByteArray("le")
                                            << true;
    QTest::newRow("no range named") << who << true << 206 << none << QByteArray("le") << false;
}

// A 206 completes the file only when it carries exactly the missing end.
void tst_FeedDownloadManager::partialAnswers()
{
    QFETCH(QByteArray, held);
    QFETCH(bool, resume);
    QFETCH(int, status);
    QFETCH(QByteArray, contentRange);
    QFETCH(QByteArray, body);
    QFETCH(bool, kept);
    HttpFixture::Reply reply;
    reply.status = status;
    reply.body = body;
    if (!contentRange.isEmpty())
        reply.addHeader("Content-Range", contentRange);
    _http->setReply(QStringLiteral("/f"), reply);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("f.part")));
    if (!held.isNull()) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(held);
        file.close();
    }
    if (resume)
        _manager->resume(_http->url(QStringLiteral("/f")), &file);
    else
        _manager->start(_http->url(QStringLiteral("/f")), &file);
    QTRY_COMPARE(_finished->count(), 1);
    QCOMPARE(takeReply()->error(), kept ? QNetworkReply::NoError : QNetworkReply::ProtocolFailure);
    QCOMPARE(_http->requests().first().hasHeader("Range"), !held.isNull());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kept ? QByteArray("whole") : held);
}

void tst_FeedDownloadManager::failures_data()
{
    QTest::addColumn<QString>("path"); // a full URL, or a path on the fixture
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused scheme") << "file:///etc/hostname" << int(QNetworkReply::ProtocolUnknownError)
                                    << QByteArray() << "";
    QTest::newRow("404 keeps its text") << "/missing" << int(QNetworkReply::ContentNotFoundError) << QByteArray()
                                        << "Not Found";
    // Qt's own transfer time-out would end as a cancel, which the daemon reads as a user's stop.
    QTest::newRow("stall times out") << "/stall" << int(QNetworkReply::TimeoutError) << QByteArray(100, 's') << "";
}

void tst_FeedDownloadManager::failures()
{
    QFETCH(QString, path);
    QFETCH(int, error);
    QFETCH(QByteArray, received);
    QFETCH(QString, text);
    _http->setReply(QStringLiteral("/stall"), stalled(5000));
    _manager->setStallTimeout(200);
    _manager->start(path.startsWith(QLatin1Char('/')) ? _http->url(path) : QUrl(path), &_buffer);
    QCOMPARE(_finished->count(), 0); // never before start() returns
    QTRY_COMPARE(_finished->count(), 1);
    QNetworkReply* reply = takeReply();
    QCOMPARE(int(reply->error()), error);
    QVERIFY2(reply->errorString().contains(text), qPrintable(reply->errorString()));
    QCOMPARE(_buffer.data(), received);
}

VIRELON_TEST_MAIN(tst_FeedDownloadManager)
#include "tst_feeddownloadmanager.moc"
