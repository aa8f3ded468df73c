#include "httpfixture.h"
#include "tamsil.h"
#include "testenvironment.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>

// Tamsil in process against the local HTTP fixture: outcome codes, headers, and exactly one
// result signal per request.
class tst_Tamsil : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void feedOutcome_data();
    void feedOutcome();
    void invalidLinkFailsAtOnce();
    void relativeLinksFollowTheMovedFeed();
    void notModifiedKeepsRequest();
    void lastModifiedComesFromResponse_data();
    void lastModifiedComesFromResponse();
    void enclosureNeverCarriesFeedHeaders();
    void enclosureDownload();
    void enclosureOutcome_data();
    void enclosureOutcome();
    void pauseAndResume_data();
    void pauseAndResume();
    void cancelGivesOneSignal();
    void pauseDuringFeedStops();
    void idleIgnoresPauseAndCancel();
    void newRequestSupersedesRunning();
    void newFeedSupersedesRunningFeed();

private:
    static const QByteArray Rss;
    static FeedChannel channelFor(const QUrl& url, const QString& lastModified = QString());
    int results() const;
    void expectOneResult();
    QByteArray bodyOf(int size) const;

    HttpFixture* _http = nullptr;
    Tamsil* _tamsil = nullptr;
    QSignalSpy* _feedsFinished = nullptr;
    QSignalSpy* _feedsFailed = nullptr;
    QSignalSpy* _enclosureFinished = nullptr;
    QSignalSpy* _enclosureFailed = nullptr;
    QSignalSpy* _progress = nullptr;
    QTemporaryDir _files;
};

const QByteArray tst_Tamsil::Rss = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>"
                                   "<item><title>one</title><link>http://x.test/1</link></item></channel></rss>";

void tst_Tamsil::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    qputenv("VIRELON_TAMSIL_DATA_DIR", TAMSIL_QUERY_DIR);
    qputenv("VIRELON_TAMSIL_STALL_TIMEOUT_MS", "400");
    qputenv("VIRELON_TAMSIL_MAX_FEED_SIZE", "65536");
}

void tst_Tamsil::init()
{
    _http = new HttpFixture;
    _tamsil = new Tamsil;
    _feedsFinished = new QSignalSpy(_tamsil, &Tamsil::downloadFeedsFinished);
    _feedsFailed = new QSignalSpy(_tamsil, &Tamsil::downloadFeedsFailed);
    _enclosureFinished = new QSignalSpy(_tamsil, &Tamsil::downloadEnclosureFinished);
    _enclosureFailed = new QSignalSpy(_tamsil, &Tamsil::downloadEnclosureFailed);
    _progress = new QSignalSpy(_tamsil, &Tamsil::enclosureDownloadProgress);
}

void tst_Tamsil::cleanup()
{
    delete _feedsFinished;
    delete _feedsFailed;
    delete _enclosureFinished;
    delete _enclosureFailed;
    delete _progress;
    delete _tamsil;
    delete _http;
}

FeedChannel tst_Tamsil::channelFor(const QUrl& url, const QString& lastModified)
{
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:uuid:c"));
    channel.setLink(url.toString());
    channel.setType(QStringLiteral("tamsil"));
    channel.setLastModifiedTime(lastModified);
    return channel;
}

int tst_Tamsil::results() const
{
    return _feedsFinished->count() + _feedsFailed->count() + _enclosureFinished->count()
           + _enclosureFailed->count();
}

// Waits for the result, then lets whatever else is pending run: no second result may follow.
void tst_Tamsil::expectOneResult()
{
    QTRY_VERIFY(results() > 0);
    QCoreApplication::processEvents();
    QCOMPARE(results(), 1);
}

QByteArray tst_Tamsil::bodyOf(int size) const
{
    QByteArray body(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        body[i] = char('a' + i % 26);
    return body;
}

void tst_Tamsil::feedOutcome_data()
{
    QTest::addColumn<HttpFixture::Reply>("reply");
    QTest::addColumn<QString>("link"); // empty: the fixture's /feed
    QTest::addColumn<int>("code");     // 0: finished

    HttpFixture::Reply rss;
    rss.body = Rss;
    rss.addHeader("Content-Type", "application/rss+xml");
    QTest::newRow("rss") << rss << QString() << 0;

    HttpFixture::Reply reply = rss;
    reply.body.clear();
    QTest::newRow("empty body") << reply << QString() << 301;
    reply = rss;
    reply.status = 404;
    QTest::newRow("404") << reply << QString() << 103;
    reply.status = 500;
    QTest::newRow("500") << reply << QString() << 499;
    reply = rss;
    reply.headers.clear();
    reply.addHeader("Content-Type", "text/html");
    reply.body = "<html><body>hello</body></html>";
    QTest::newRow("not a feed") << reply << QString() << 101;
    reply = rss;
    reply.headers.clear();
    reply.addHeader("Content-Type", "application/atom+xml");
    QTest::newRow("rss labelled atom") << reply << QString() << 303;
    reply = rss;
    reply.body = bodyOf(200000);
    QTest::newRow("beyond the size cap") << reply << QString() << 499;
    reply = rss;
    reply.body = "<rss>" + bodyOf(100000);
    reply.delivery = HttpFixture::Trickle;
    reply.chunkSize = 8192;
    reply.chunkInterval = 1;
    reply.contentLength = false;
    QTest::newRow("cap without trusting the length") << reply << QString() << 499;
    reply = rss;
    reply.body = bodyOf(10000);
    reply.delivery = HttpFixture::Stall;
    QTest::newRow("stalled server") << reply << QString() << 401;
    reply.delivery = HttpFixture::Drop;
    QTest::newRow("dropped connection") << reply << QString() << 402;
    QTest::newRow("redirect") << rss << QStringLiteral("/moved") << 0;
    QTest::newRow("redirect loop") << rss << QStringLiteral("/loop") << 499;
    QTest::newRow("file scheme") << rss << QStringLiteral("file:///etc/hostname") << 104;
    QTest::newRow("ftp scheme") << rss << QStringLiteral("ftp://127.0.0.1/feed") << 104;
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const QString refused = QStringLiteral("http://127.0.0.1:%1/feed").arg(closed.serverPort());
    QTest::newRow("connection refused") << rss << refused << 402;
}

void tst_Tamsil::feedOutcome()
{
    QFETCH(HttpFixture::Reply, reply);
    QFETCH(QString, link);
    QFETCH(int, code);
    _http->setReply(QStringLiteral("/feed"), reply);
    _http->redirect(QStringLiteral("/moved"), _http->url(QStringLiteral("/feed")), 301);
    _http->redirect(QStringLiteral("/loop"), _http->url(QStringLiteral("/loop")));
    QUrl url = link.isEmpty() ? _http->url(QStringLiteral("/feed")) : QUrl(link);
    if (link.startsWith(QLatin1Char('/')))
        url = _http->url(link);
    _tamsil->downloadFeeds(channelFor(url));
    expectOneResult();
    if (code == 0) {
        QCOMPARE(_feedsFinished->count(), 1);
        QCOMPARE(_tamsil->channel().messages().size(), 1);
        QCOMPARE(_tamsil->channel().link(), url.toString());
    } else {
        QCOMPARE(_feedsFailed->count(), 1);
        QCOMPARE(_feedsFailed->first().first().toInt(), code);
    }
}

// A feed that moved names its relative links after where it now lives.
void tst_Tamsil::relativeLinksFollowTheMovedFeed()
{
    _http->serve(QStringLiteral("/new/feed.xml"),
                 "<rss><channel><image><url>icon.png</url></image><item><link>post.html</link>"
                 "<enclosure url='/a.mp3'/></item></channel></rss>",
                 "application/rss+xml");
    _http->redirect(QStringLiteral("/old"), _http->url(QStringLiteral("/new/feed.xml")), 301);
    const QUrl subscribed = _http->url(QStringLiteral("/old"));
    _tamsil->downloadFeeds(channelFor(subscribed));
    expectOneResult();
    QCOMPARE(_feedsFinished->count(), 1);
    const FeedChannel channel = _tamsil->channel();
    QCOMPARE(channel.link(), subscribed.toString());
    QCOMPARE(channel.icon().remoteUrl(), _http->url(QStringLiteral("/new/icon.png")).toString());
    const FeedMessage message = channel.messages().value(0);
    QCOMPARE(message.link(), _http->url(QStringLiteral("/new/post.html")).toString());
    QCOMPARE(message.baseUrl(), _http->url(QStringLiteral("/new/feed.xml")).toString());
    QCOMPARE(message.enclosures().value(0).remoteUrl(), _http->url(QStringLiteral("/a.mp3")).toString());
}

void tst_Tamsil::invalidLinkFailsAtOnce()
{
    FeedChannel request = channelFor(QUrl(), QStringLiteral("Mon, 07 Dec 2026 10:00:00 GMT"));
    request.setLink(QStringLiteral("http://exa mple.test/%zz"));
    request.setTitle(QStringLiteral("Mine"));
    _tamsil->downloadFeeds(request);
    QCOMPARE(_feedsFailed->count(), 1);
    QCOMPARE(_feedsFailed->first().first().toInt(), 101);
    QCOMPARE(_tamsil->channel().link(), request.link());
    QCOMPARE(_tamsil->channel().title(), request.title());
    QCOMPARE(_tamsil->channel().lastModifiedTime(), request.lastModifiedTime());
    QCoreApplication::processEvents();
    QCOMPARE(results(), 1);
    QVERIFY(_http->requests().isEmpty());
}

void tst_Tamsil::notModifiedKeepsRequest()
{
    const QByteArray stamp = "Mon, 07 Dec 2026 10:00:00 GMT";
    HttpFixture::Reply reply;
    reply.body = Rss;
    reply.lastModified = stamp;
    _http->setReply(QStringLiteral("/feed"), reply);
    FeedChannel request = channelFor(_http->url(QStringLiteral("/feed")), QString::fromLatin1(stamp));
    _tamsil->downloadFeeds(request);
    expectOneResult();
    QCOMPARE(_feedsFailed->first().first().toInt(), 304);
    QCOMPARE(_http->requests().first().header("If-Modified-Since"), stamp);
    QCOMPARE(_http->requests().first().header("Accept"),
             QByteArray("application/rss+xml,application/atom+xml,application/xml,text/xml,*/*"));
    QCOMPARE(_tamsil->channel().lastModifiedTime(), request.lastModifiedTime());
    QVERIFY(_tamsil->channel().messages().isEmpty());
}

void tst_Tamsil::lastModifiedComesFromResponse_data()
{
    QTest::addColumn<QByteArray>("served");
    QTest::newRow("with Last-Modified") << QByteArray("Tue, 08 Dec 2026 10:00:00 GMT");
    QTest::newRow("without") << QByteArray();
}

void tst_Tamsil::lastModifiedComesFromResponse()
{
    QFETCH(QByteArray, served);
    HttpFixture::Reply reply;
    reply.body = Rss;
    reply.lastModified = served;
    _http->setReply(QStringLiteral("/feed"), reply);
    _tamsil->downloadFeeds(channelFor(_http->url(QStringLiteral("/feed")), QStringLiteral("old")));
    expectOneResult();
    QCOMPARE(_feedsFinished->count(), 1);
    QCOMPARE(_tamsil->channel().lastModifiedTime(), QString::fromLatin1(served));
}

// A 304 to an enclosure would pass for a complete empty file.
void tst_Tamsil::enclosureNeverCarriesFeedHeaders()
{
    _http->serve(QStringLiteral("/feed"), Rss, "text/xml");
    _http->serve(QStringLiteral("/a.mp3"), "data", "audio/mpeg");
    _tamsil->downloadFeeds(channelFor(_http->url(QStringLiteral("/feed")), QString()));
    expectOneResult();
    QVERIFY(!_http->requests(QStringLiteral("/feed")).first().hasHeader("If-Modified-Since"));

    FeedChannel dated = channelFor(QUrl(QStringLiteral("file:///nowhere")), QStringLiteral("Mon, 07 Dec 2026"));
    _tamsil->downloadFeeds(dated); // refused before any request: its headers must not linger
    QTRY_COMPARE(results(), 2);
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(_http->url(QStringLiteral("/a.mp3")).toString());
    enclosure.setLocalUrl(_files.filePath(QStringLiteral("a.mp3.part")));
    _tamsil->downloadEnclosure(enclosure);
    QTRY_COMPARE(results(), 3);
    const HttpFixture::Request request = _http->requests(QStringLiteral("/a.mp3")).first();
    QVERIFY(!request.hasHeader("If-Modified-Since"));
    QCOMPARE(request.header("Accept"), QByteArray("*/*"));
    QCOMPARE(_enclosureFinished->count(), 1);
}

void tst_Tamsil::enclosureDownload()
{
    const QByteArray body = bodyOf(5000);
    _http->serve(QStringLiteral("/e.ogg"), body, "audio/ogg");
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(_http->url(QStringLiteral("/e.ogg")).toString());
    enclosure.setLocalUrl(_files.filePath(QStringLiteral("e.ogg.part")));
    _tamsil->downloadEnclosure(enclosure);
    expectOneResult();
    const QVariantMap result = _enclosureFinished->first().first().toMap();
    QCOMPARE(result.value(QStringLiteral("mimeType")).toString(), QStringLiteral("audio/ogg"));
    QCOMPARE(result.value(QStringLiteral("length")).toUInt(), 5000u);
    QFile file(enclosure.localUrl());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), body);
    QVERIFY(!_progress->isEmpty());
    QCOMPARE(_progress->last().at(0).toLongLong(), 5000);
    QCOMPARE(_progress->last().at(1).toLongLong(), 5000);
}

void tst_Tamsil::enclosureOutcome_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("code");
    QTest::newRow("404") << 404 << 103;
    QTest::newRow("204 is no file") << 204 << 499;
    QTest::newRow("500") << 500 << 499;
    QTest::newRow("200 without length") << 200 << 0;
}

void tst_Tamsil::enclosureOutcome()
{
    QFETCH(int, status);
    QFETCH(int, code);
    HttpFixture::Reply reply;
    reply.status = status;
    reply.body = "x";
    reply.contentLength = false;
    _http->setReply(QStringLiteral("/e"), reply);
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(_http->url(QStringLiteral("/e")).toString());
    enclosure.setLocalUrl(_files.filePath(QStringLiteral("e.part")));
    _tamsil->downloadEnclosure(enclosure);
    expectOneResult();
    if (code == 0)
        QCOMPARE(_enclosureFinished->first().first().toMap().value(QStringLiteral("length")).toUInt(), 0u);
    else
        QCOMPARE(_enclosureFailed->first().first().toInt(), code);
}

void tst_Tamsil::pauseAndResume_data()
{
    QTest::addColumn<bool>("ranges");
    QTest::newRow("206 continues the file") << true;
    QTest::newRow("200 starts it over") << false;
}

void tst_Tamsil::pauseAndResume()
{
    QFETCH(bool, ranges);
    const QByteArray body = bodyOf(40000);
    HttpFixture::Reply reply;
    reply.body = body;
    reply.addHeader("Content-Type", "video/mp4");
    reply.delivery = HttpFixture::Trickle;
    reply.chunkSize = 1000;
    reply.chunkInterval = 5;
    reply.ranges = ranges;
    _http->setReply(QStringLiteral("/v.mp4"), reply);
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(_http->url(QStringLiteral("/v.mp4")).toString());
    enclosure.setLocalUrl(_files.filePath(QStringLiteral("v.mp4.part")));

    _tamsil->downloadEnclosure(enclosure);
    QTRY_VERIFY(_progress->count() >= 3);
    _tamsil->pauseDownloadEnclosure();
    expectOneResult();
    QCOMPARE(_enclosureFailed->first().first().toInt(), 203);
    const qint64 partial = QFileInfo(enclosure.localUrl()).size();
    QVERIFY(partial > 0 && partial < body.size());

    _tamsil->resumeDownloadEnclosure(enclosure);
    QTRY_COMPARE(results(), 2);
    QCoreApplication::processEvents();
    QCOMPARE(results(), 2);
    QCOMPARE(_http->requests().last().header("Range"), "bytes=" + QByteArray::number(partial) + '-');
    QCOMPARE(_enclosureFinished->count(), 1);
    QCOMPARE(_enclosureFinished->first().first().toMap().value(QStringLiteral("length")).toLongLong(),
             qint64(body.size()));
    QFile file(enclosure.localUrl());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), body);
    QCOMPARE(_progress->last().at(0).toLongLong(), qint64(body.size()));
    QCOMPARE(_progress->last().at(1).toLongLong(), qint64(body.size()));
}

void tst_Tamsil::cancelGivesOneSignal()
{
    HttpFixture::Reply reply;
    reply.body = bodyOf(40000);
    reply.delivery = HttpFixture::Trickle;
    reply.chunkInterval = 5;
    _http->setReply(QStringLiteral("/big"), reply);
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(_http->url(QStringLiteral("/big")).toString());
    enclosure.setLocalUrl(_files.filePath(QStringLiteral("big.part")));
    _tamsil->downloadEnclosure(enclosure);
    QTRY_VERIFY(!_progress->isEmpty());
    _tamsil->cancelDownload();
    expectOneResult();
    QCOMPARE(_enclosureFailed->first().first().toInt(), 201);
    _tamsil->cancelDownload();
    _tamsil->pauseDownloadEnclosure();
    QCoreApplication::processEvents();
    QCOMPARE(results(), 1);
}

void tst_Tamsil::pauseDuringFeedStops()
{
    HttpFixture::Reply reply;
    reply.body = "<rss>" + bodyOf(20000);
    reply.delivery = HttpFixture::Stall;
    _http->setReply(QStringLiteral("/feed"), reply);
    _tamsil->downloadFeeds(channelFor(_http->url(QStringLiteral("/feed"))));
    QTRY_VERIFY(!_progress->isEmpty());
    _tamsil->pauseDownloadEnclosure();
    expectOneResult();
    QCOMPARE(_feedsFailed->first().first().toInt(), 201);
}

void tst_Tamsil::idleIgnoresPauseAndCancel()
{
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Going to pause download for channel: ")));
    QTest::ignoreMessage(QtDebugMsg, "Plugin is idle. Cannot cancel !");
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Going to cancel download for channel: ")));
    QTest::ignoreMessage(QtDebugMsg, "Plugin is idle. Cannot cancel !");
    _tamsil->pauseDownloadEnclosure();
    _tamsil->cancelDownload();
    QCoreApplication::processEvents();
    QCOMPARE(results(), 0);
}

void tst_Tamsil::newRequestSupersedesRunning()
{
    HttpFixture::Reply slow;
    slow.body = bodyOf(40000);
    slow.delivery = HttpFixture::Trickle;
    slow.chunkInterval = 5;
    _http->setReply(QStringLiteral("/slow"), slow);
    _http->serve(QStringLiteral("/fast"), "fast body", "text/plain");
    FeedEnclosure first;
    first.setRemoteUrl(_http->url(QStringLiteral("/slow")).toString());
    first.setLocalUrl(_files.filePath(QStringLiteral("slow.part")));
    FeedEnclosure second;
    second.setRemoteUrl(_http->url(QStringLiteral("/fast")).toString());
    second.setLocalUrl(_files.filePath(QStringLiteral("fast.part")));
    _tamsil->downloadEnclosure(first);
    QTRY_VERIFY(!_progress->isEmpty());
    _tamsil->downloadEnclosure(second);
    expectOneResult();
    QCOMPARE(_enclosureFinished->count(), 1);
    QCOMPARE(_enclosureFinished->first().first().toMap().value(QStringLiteral("length")).toUInt(), 9u);
}

void tst_Tamsil::newFeedSupersedesRunningFeed()
{
    HttpFixture::Reply stalled;
    stalled.body = "<rss><channel><title>stale</title>" + bodyOf(5000);
    stalled.delivery = HttpFixture::Stall;
    _http->setReply(QStringLiteral("/stalled"), stalled);
    _http->serve(QStringLiteral("/feed"), Rss, "application/rss+xml");
    _tamsil->downloadFeeds(channelFor(_http->url(QStringLiteral("/stalled"))));
    QTRY_VERIFY(!_progress->isEmpty());
    _tamsil->downloadFeeds(channelFor(_http->url(QStringLiteral("/feed"))));
    expectOneResult();
    QCOMPARE(_feedsFinished->count(), 1);
    QCOMPARE(_tamsil->channel().messages().size(), 1);
}

VIRELON_TEST_MAIN(tst_Tamsil)
#include "tst_tamsil.moc"
