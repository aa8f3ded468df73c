#include "feeddownloadmanager.h"
#include "httpfixture.h"
#include "testenvironment.h"

#include <QBuffer>
#include <QScopeGuard>
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
    void compressedBodies_data();
    void compressedBodies();
    void gzipBombStopsAtTheLimit();
    void reportedBytesAreInTheFile();

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
    // The rest of a file cannot be inflated without its start.
    QCOMPARE(_http->requests().first().header("Accept-Encoding"),
             QByteArray(held.isNull() ? "gzip, deflate" : "identity"));
    // Regression: the target was created before the answer said whether it had a body.
    QCOMPARE(file.exists(), kept || !held.isNull());
    if (file.exists()) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), kept ? QByteArray("whole") : held);
    }
}

void tst_FeedDownloadManager::failures_data()
{
    QTest::addColumn<QString>("path"); // a full URL, or a path on the fixture
    QTest::addColumn<int>("deadline");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("received"); // null: the target is never created
    QTest::addColumn<QString>("text");
    QTest::newRow("refused scheme") << "file:///etc/hostname" << 0 << int(QNetworkReply::ProtocolUnknownError)
                                    << QByteArray() << "";
    QTest::newRow("404 keeps its text") << "/missing" << 0 << int(QNetworkReply::ContentNotFoundError) << QByteArray()
                                        << "Not Found";
    // Qt's own transfer time-out would end as a cancel, which the daemon reads as a user's stop.
    QTest::newRow("stall times out") << "/stall" << 0 << int(QNetworkReply::TimeoutError) << QByteArray(100, 's')
                                     << "";
    // Regression: every byte started the stall time-out again, and a drip never ended.
    QTest::newRow("a drip is a stall") << "/drip" << 0 << int(QNetworkReply::TimeoutError) << QByteArray("d")
                                       << "Less than 1024 bytes";
    QTest::newRow("the deadline ends what goes on") << "/flood" << 400 << int(QNetworkReply::TimeoutError)
                                                    << QByteArray("f") << "Not done within 400 ms";
}

void tst_FeedDownloadManager::failures()
{
    QFETCH(QString, path);
    QFETCH(int, deadline);
    QFETCH(int, error);
    QFETCH(QByteArray, received);
    QFETCH(QString, text);
    _http->setReply(QStringLiteral("/stall"), stalled(5000));
    HttpFixture::Reply drip;
    drip.body = "d";
    drip.delivery = HttpFixture::Drip;
    drip.chunkSize = 1;
    drip.chunkInterval = 10;
    _http->setReply(QStringLiteral("/drip"), drip);
    drip.body = QByteArray(2048, 'f');
    drip.chunkSize = 2048;
    _http->setReply(QStringLiteral("/flood"), drip);
    _manager->setStallTimeout(200);
    _manager->setDeadline(deadline);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("target")));
    _manager->start(path.startsWith(QLatin1Char('/')) ? _http->url(path) : QUrl(path), &file);
    QCOMPARE(_finished->count(), 0); // never before start() returns
    QTRY_COMPARE_WITH_TIMEOUT(_finished->count(), 1, 10000);
    QNetworkReply* reply = takeReply();
    QCOMPARE(int(reply->error()), error);
    QVERIFY2(reply->errorString().contains(text), qPrintable(reply->errorString()));
    QCOMPARE(file.exists(), !received.isNull());
    if (file.exists()) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        QVERIFY2(data.startsWith(received), data.left(20).constData());
    }
    // A deadline holds for one request only.
    _http->serve(QStringLiteral("/after"), "after", "text/plain");
    _manager->start(_http->url(QStringLiteral("/after")), &_buffer);
    QTRY_COMPARE(_finished->count(), 1);
    QCOMPARE(takeReply()->error(), QNetworkReply::NoError);
}

void tst_FeedDownloadManager::compressedBodies_data()
{
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("received");
    const QByteArray text = QByteArray("<rss>").append(QByteArray("words and more words ").repeated(5000));
    const QByteArray zlibWrapped = qCompress(text).mid(4);
    QTest::newRow("gzip") << QByteArray("gzip") << HttpFixture::gzip(text) << 0 << text;
    QTest::newRow("two gzip members") << QByteArray("x-gzip") << HttpFixture::gzip("one ") + HttpFixture::gzip("two")
                                      << 0 << QByteArray("one two");
    QTest::newRow("deflate") << QByteArray("deflate") << zlibWrapped << 0 << text;
    QTest::newRow("deflate without its wrapping") << QByteArray("Deflate") << zlibWrapped.mid(2).chopped(4) << 0
                                                  << text;
    QTest::newRow("none") << QByteArray("identity") << text << 0 << text;
    QTest::newRow("corrupt") << QByteArray("gzip") << QByteArray("\x1f\x8b not gzip at all") << int(QNetworkReply::ProtocolFailure)
                             << QByteArray();
    QTest::newRow("cut short") << QByteArray("gzip") << HttpFixture::gzip(text).chopped(100)
                               << int(QNetworkReply::ProtocolFailure) << QByteArray();
    QTest::newRow("unknown encoding") << QByteArray("br") << text << int(QNetworkReply::UnknownContentError)
                                      << QByteArray();
}

// A compressed body is inflated here, whatever the encoding a server chose of those asked for.
void tst_FeedDownloadManager::compressedBodies()
{
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, body);
    QFETCH(int, error);
    QFETCH(QByteArray, received);
    HttpFixture::Reply reply;
    reply.body = body;
    reply.addHeader("Content-Encoding", encoding);
    _http->setReply(QStringLiteral("/z"), reply);
    _manager->start(_http->url(QStringLiteral("/z")), &_buffer);
    QTRY_COMPARE(_finished->count(), 1);
    QNetworkReply* result = takeReply();
    QCOMPARE(int(result->error()), error);
    QCOMPARE(_http->requests().first().header("Accept-Encoding"), QByteArray("gzip, deflate"));
    if (error == 0)
        QCOMPARE(_buffer.data(), received);
}

// Regression: the whole inflated body was read before its size was checked. Inflated piece by
// piece, it stops at the limit.
void tst_FeedDownloadManager::gzipBombStopsAtTheLimit()
{
    _http->setReply(QStringLiteral("/bomb"), HttpFixture::gzipBomb(qint64(256) * 1024 * 1024, "text/xml"));
    const qint64 limit = 1024 * 1024;
    _manager->setMaximumSize(limit);
    _manager->start(_http->url(QStringLiteral("/bomb")), &_buffer);
    QTRY_COMPARE(_finished->count(), 1);
    QNetworkReply* reply = takeReply();
    QCOMPARE(reply->error(), QNetworkReply::UnknownContentError);
    QVERIFY(_buffer.data().size() <= limit);
}

// A process killed mid-transfer leaves a file that holds every byte progress reported.
void tst_FeedDownloadManager::reportedBytesAreInTheFile()
{
    HttpFixture::Reply held;
    held.body = QByteArray(5000, 'h');
    held.delivery = HttpFixture::Hold;
    held.chunkSize = 1000;
    _http->setReply(QStringLiteral("/held"), held);
    QSignalSpy progress(_manager.data(), &FeedDownloadManager::progress);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("held.part")));
    // A failure leaves the transfer running into the file: it must not outlive it.
    const auto stop = qScopeGuard([this] { _manager.reset(); });
    _manager->start(_http->url(QStringLiteral("/held")), &file);
    QTRY_VERIFY(!progress.isEmpty() && progress.last().first().toLongLong() == 1000);
    QCOMPARE(QFileInfo(file.fileName()).size(), 1000);
    _http->release(QStringLiteral("/held"));
    QTRY_COMPARE(_finished->count(), 1);
    QCOMPARE(takeReply()->error(), QNetworkReply::NoError);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), held.body);
}

VIRELON_TEST_MAIN(tst_FeedDownloadManager)
#include "tst_feeddownloadmanager.moc"
