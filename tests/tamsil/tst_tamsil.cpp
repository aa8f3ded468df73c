#include "httpfixture.h"
#include "tamsil.h"
#include "testenvironment.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>

#include <limits>

// Tamsil in process against the local HTTP fixture: outcome codes, headers, and exactly one
// result signal per request.
class tst_Tamsil : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void feedOutcome_data();
    void feedOutcome();
    void invalidLinkFailsAtOnce();
    void relativeLinksFollowTheMovedFeed();
    void enclosureNeverCarriesFeedHeaders();
    void enclosureOutcome_data();
    void enclosureOutcome();
    void boundedEnclosures_data();
    void boundedEnclosures();
    void pauseAndResume_data();
    void pauseAndResume();
    void interruptions_data();
    void interruptions();
    void idleIgnoresPauseAndCancel();

private:
    static const QByteArray Rss;
    static const QString Stamp;
    static constexpr int ImageCap = 256 * 1024;
    static FeedChannel channelFor(const QUrl& url, const QString& lastModified = QString());
    static QByteArray bodyOf(int size);
    static HttpFixture::Reply trickle(const QByteArray& body, int chunkSize = 1024);
    static HttpFixture::Reply stalled(const QByteArray& body);
    FeedEnclosure enclosureAt(const QString& path);
    void startTamsil();
    void expectResults(const QStringList& results);

    QScopedPointer<HttpFixture> _http;
    QScopedPointer<Tamsil> _tamsil;
    QScopedPointer<QSignalSpy> _progress;
    QStringList _results; // "feed finished", "enclosure failed 203", ...
    QVariantMap _finished;
    QTemporaryDir _files;
};

const QByteArray tst_Tamsil::Rss = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>"
                                   "<item><title>one</title><link>http://x.test/1</link></item></channel></rss>";
const QString tst_Tamsil::Stamp = QStringLiteral("Mon, 07 Dec 2026 10:00:00 GMT");

void tst_Tamsil::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    qputenv("VIRELON_TAMSIL_DATA_DIR", TAMSIL_QUERY_DIR);
    qputenv("VIRELON_TAMSIL_STALL_TIMEOUT_MS", "400");
    qputenv("VIRELON_TAMSIL_MAX_FEED_SIZE", "65536");
    qputenv("VIRELON_TAMSIL_FEED_TIMEOUT_MS", "1500");
    qputenv("VIRELON_TAMSIL_MAX_IMAGE_SIZE", QByteArray::number(ImageCap));
}

void tst_Tamsil::init()
{
    _http.reset(new HttpFixture);
    _results.clear();
    startTamsil();
}

// A new plug-in, as the environment now sets it up.
void tst_Tamsil::startTamsil()
{
    _progress.reset();
    _tamsil.reset(new Tamsil);
    _progress.reset(new QSignalSpy(_tamsil.data(), &Tamsil::enclosureDownloadProgress));
    Tamsil* tamsil = _tamsil.data();
    connect(tamsil, &Tamsil::downloadFeedsFinished, this, [this] { _results << QStringLiteral("feed finished"); });
    connect(tamsil, &Tamsil::downloadFeedsFailed, this,
            [this](int code) { _results << QStringLiteral("feed failed %1").arg(code); });
    connect(tamsil, &Tamsil::downloadEnclosureFinished, this, [this](const QVariantMap& result) {
        _results << QStringLiteral("enclosure finished");
        _finished = result;
    });
    connect(tamsil, &Tamsil::downloadEnclosureFailed, this,
            [this](int code) { _results << QStringLiteral("enclosure failed %1").arg(code); });
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

QByteArray tst_Tamsil::bodyOf(int size)
{
    QByteArray body(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        body[i] = char('a' + i % 26);
    return body;
}

HttpFixture::Reply tst_Tamsil::trickle(const QByteArray& body, int chunkSize)
{
    HttpFixture::Reply reply;
    reply.body = body;
    reply.delivery = HttpFixture::Trickle;
    reply.chunkSize = chunkSize;
    reply.chunkInterval = 5;
    return reply;
}

HttpFixture::Reply tst_Tamsil::stalled(const QByteArray& body)
{
    HttpFixture::Reply reply;
    reply.body = body;
    reply.delivery = HttpFixture::Stall;
    return reply;
}

FeedEnclosure tst_Tamsil::enclosureAt(const QString& path)
{
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(_http->url(path).toString());
    enclosure.setLocalUrl(_files.filePath(path.mid(1) + QStringLiteral(".part")));
    return enclosure;
}

// Waits for the results, then lets whatever else is pending run: no other result may follow.
void tst_Tamsil::expectResults(const QStringList& results)
{
    QTRY_VERIFY(_results.size() >= results.size());
    QCoreApplication::processEvents();
    QCOMPARE(_results, results);
}

void tst_Tamsil::feedOutcome_data()
{
    QTest::addColumn<HttpFixture::Reply>("reply");
    QTest::addColumn<QString>("link"); // empty: the fixture's /feed
    QTest::addColumn<int>("code");     // 0: finished

    HttpFixture::Reply rss;
    rss.body = Rss;
    rss.addHeader("Content-Type", "application/rss+xml");
    HttpFixture::Reply reply = rss;
    reply.lastModified = "Tue, 08 Dec 2026 10:00:00 GMT";
    QTest::newRow("rss, Last-Modified kept") << reply << QString() << 0;
    QTest::newRow("rss without Last-Modified") << rss << QString() << 0;
    reply.lastModified = Stamp.toLatin1();
    QTest::newRow("not modified") << reply << QString() << 304;
    reply = rss;
    reply.body.clear();
    QTest::newRow("empty body") << reply << QString() << 301;
    reply = rss;
    reply.status = 404;
    QTest::newRow("404") << reply << QString() << 103;
    reply.status = 500;
    QTest::newRow("500") << reply << QString() << 499;
    reply = rss;
    reply.headers = {{"Content-Type", "text/html"}};
    reply.body = "<html><body>hello</body></html>";
    QTest::newRow("not a feed") << reply << QString() << 101;
    reply = rss;
    reply.headers = {{"Content-Type", "application/atom+xml"}};
    QTest::newRow("rss labelled atom") << reply << QString() << 303;
    reply = rss;
    reply.body = bodyOf(200000);
    QTest::newRow("beyond the size cap") << reply << QString() << 499;
    reply = trickle("<rss>" + bodyOf(100000), 8192);
    reply.contentLength = false;
    QTest::newRow("cap without trusting the length") << reply << QString() << 499;
    reply = rss;
    reply.body = HttpFixture::gzip(Rss);
    reply.addHeader("Content-Encoding", "gzip");
    QTest::newRow("compressed") << reply << QString() << 0;
    // Regression: an inflated body was read whole before the size check, past 2 GB.
    QTest::newRow("gzip bomb") << HttpFixture::gzipBomb(qint64(256) * 1024 * 1024, "application/rss+xml")
                               << QString() << 499;
    reply = stalled(bodyOf(10000));
    QTest::newRow("stalled server") << reply << QString() << 401;
    // Regression: each byte started the stall time-out again, and such a feed never ended.
    reply.delivery = HttpFixture::Drip;
    reply.chunkSize = 512;
    reply.chunkInterval = 50;
    QTest::newRow("dripping server, ended by the deadline") << reply << QString() << 401;
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
    _tamsil->downloadFeeds(channelFor(url, Stamp));
    expectResults({code ? QStringLiteral("feed failed %1").arg(code) : QStringLiteral("feed finished")});
    if (!_http->requests().isEmpty()) {
        QCOMPARE(_http->requests().first().header("If-Modified-Since"), Stamp.toLatin1());
        QCOMPARE(_http->requests().first().header("Accept"),
                 QByteArray("application/rss+xml,application/atom+xml,application/xml,text/xml,*/*"));
    }
    if (code == 0) {
        QCOMPARE(_tamsil->channel().messages().size(), 1);
        QCOMPARE(_tamsil->channel().link(), url.toString());
        QCOMPARE(_tamsil->channel().lastModifiedTime(), QString::fromLatin1(reply.lastModified));
    } else if (code == 304) {
        QCOMPARE(_tamsil->channel().lastModifiedTime(), Stamp);
        QVERIFY(_tamsil->channel().messages().isEmpty());
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
    expectResults({QStringLiteral("feed finished")});
    QVERIFY(!_http->requests().first().hasHeader("If-Modified-Since")); // empty: not sent
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
    FeedChannel request = channelFor(QUrl(), Stamp);
    request.setLink(QStringLiteral("http://exa mple.test/%zz"));
    request.setTitle(QStringLiteral("Mine"));
    _tamsil->downloadFeeds(request);
    QCOMPARE(_results, QStringList({QStringLiteral("feed failed 101")}));
    expectResults({QStringLiteral("feed failed 101")});
    QCOMPARE(_tamsil->channel().link(), request.link());
    QCOMPARE(_tamsil->channel().title(), request.title());
    QCOMPARE(_tamsil->channel().lastModifiedTime(), request.lastModifiedTime());
    QVERIFY(_http->requests().isEmpty());
}

// A 304 to an enclosure would pass for a complete empty file.
void tst_Tamsil::enclosureNeverCarriesFeedHeaders()
{
    _http->serve(QStringLiteral("/a.mp3"), "data", "audio/mpeg");
    _tamsil->downloadFeeds(channelFor(QUrl(QStringLiteral("file:///nowhere")), Stamp));
    QTRY_COMPARE(_results.size(), 1); // refused before any request: its headers must not linger
    _tamsil->downloadEnclosure(enclosureAt(QStringLiteral("/a.mp3")));
    expectResults({QStringLiteral("feed failed 104"), QStringLiteral("enclosure finished")});
    const HttpFixture::Request request = _http->requests().first();
    QVERIFY(!request.hasHeader("If-Modified-Since"));
    QCOMPARE(request.header("Accept"), QByteArray("*/*"));
}

void tst_Tamsil::enclosureOutcome_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<int>("delivery");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<int>("code");
    const int whole = HttpFixture::Whole;
    const QString web = QStringLiteral("http");
    QTest::newRow("200") << 200 << true << whole << web << 0;
    QTest::newRow("200 without length") << 200 << false << whole << web << 0;
    QTest::newRow("404") << 404 << true << whole << web << 103;
    QTest::newRow("204 is no file") << 204 << false << whole << web << 499;
    QTest::newRow("500") << 500 << true << whole << web << 499;
    QTest::newRow("refused scheme") << 200 << true << whole << QStringLiteral("ftp") << 104;
    // Regression: each byte started the stall time-out again, and a drip never ended.
    QTest::newRow("a drip is a stall") << 200 << false << int(HttpFixture::Drip) << web << 401;
}

// A failed download leaves no file behind: the target is made only once the answer has begun
// with success.
void tst_Tamsil::enclosureOutcome()
{
    QFETCH(int, status);
    QFETCH(bool, contentLength);
    QFETCH(int, delivery);
    QFETCH(QString, scheme);
    QFETCH(int, code);
    HttpFixture::Reply reply;
    reply.status = status;
    reply.body = bodyOf(5000);
    reply.contentLength = contentLength;
    reply.delivery = HttpFixture::Delivery(delivery);
    reply.chunkSize = 1;
    reply.chunkInterval = 20;
    reply.addHeader("Content-Type", "audio/ogg");
    _http->setReply(QStringLiteral("/e.ogg"), reply);
    FeedEnclosure enclosure = enclosureAt(QStringLiteral("/e.ogg"));
    QUrl remote(enclosure.remoteUrl());
    remote.setScheme(scheme);
    enclosure.setRemoteUrl(remote.toString());
    QFile::remove(enclosure.localUrl());
    _tamsil->downloadEnclosure(enclosure);
    expectResults({code ? QStringLiteral("enclosure failed %1").arg(code) : QStringLiteral("enclosure finished")});
    // Regression: a refused or failed download left a file of 0 bytes.
    if (code != 0 && delivery == HttpFixture::Whole)
        QVERIFY(!QFile::exists(enclosure.localUrl()));
    if (code != 0)
        return;
    QCOMPARE(_finished.value(QStringLiteral("mimeType")).toString(), QStringLiteral("audio/ogg"));
    QCOMPARE(_finished.value(QStringLiteral("length")).toUInt(), contentLength ? 5000u : 0u);
    QFile file(enclosure.localUrl());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), reply.body);
    if (contentLength)
        QCOMPARE(_progress->last(), QVariantList({5000, 5000}));
}

void tst_Tamsil::boundedEnclosures_data()
{
    QTest::addColumn<bool>("essential");
    QTest::addColumn<HttpFixture::Reply>("reply");
    QTest::addColumn<int>("part");                 // bytes of the body there before: resumed
    QTest::addColumn<QByteArray>("minimumFreeSpace"); // empty: the default
    QTest::addColumn<int>("code");                 // 0: finished
    QTest::addColumn<bool>("kept");                // the file is there afterwards

    HttpFixture::Reply reply;
    reply.body = bodyOf(64 * 1024);
    reply.delivery = HttpFixture::Endless;
    QTest::newRow("essential, endless: the image cap") << true << reply << 0 << QByteArray() << 499 << false;
    reply = HttpFixture::Reply();
    reply.body = bodyOf(ImageCap + 1);
    QTest::newRow("essential, announced past the cap") << true << reply << 0 << QByteArray() << 499 << false;
    QTest::newRow("essential, resumed past the cap") << true << reply << ImageCap - 100 << QByteArray() << 499 << false;
    reply = trickle(bodyOf(4096), 4096);
    reply.delivery = HttpFixture::Drip;
    reply.chunkInterval = 50;
    QTest::newRow("essential, dripping on: the deadline") << true << reply << 0 << QByteArray() << 401 << false;
    reply = stalled(bodyOf(10000));
    QTest::newRow("essential, stalled: the part stays") << true << reply << 0 << QByteArray() << 401 << true;
    reply = trickle(bodyOf(ImageCap + 50000), 16 * 1024);
    reply.chunkInterval = 100;
    QTest::newRow("manual, past the cap and the deadline") << false << reply << 0 << QByteArray() << 0 << true;
    reply.delivery = HttpFixture::Whole;
    const QByteArray beyondAnyDisk = QByteArray::number(std::numeric_limits<qint64>::max() / 2);
    QTest::newRow("no room on the disk: nothing left") << false << reply << 2000 << beyondAnyDisk << 407 << false;
}

// Fault guarded: an image of a refresh that never ended held up all work and filled the disk.
void tst_Tamsil::boundedEnclosures()
{
    QFETCH(bool, essential);
    QFETCH(HttpFixture::Reply, reply);
    QFETCH(int, part);
    QFETCH(QByteArray, minimumFreeSpace);
    QFETCH(int, code);
    QFETCH(bool, kept);
    if (!minimumFreeSpace.isEmpty()) {
        qputenv("VIRELON_MIN_FREE_SPACE", minimumFreeSpace);
        startTamsil();
        qunsetenv("VIRELON_MIN_FREE_SPACE");
    }
    _http->setReply(QStringLiteral("/i.bin"), reply);
    FeedEnclosure enclosure = enclosureAt(QStringLiteral("/i.bin"));
    enclosure.setType(essential ? FeedEnclosure::Essential : FeedEnclosure::Optional);
    QFile file(enclosure.localUrl());
    file.remove();
    if (part > 0) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(reply.body.left(part)), qint64(part));
        file.close();
        _tamsil->resumeDownloadEnclosure(enclosure);
    } else {
        _tamsil->downloadEnclosure(enclosure);
    }
    expectResults({code ? QStringLiteral("enclosure failed %1").arg(code) : QStringLiteral("enclosure finished")});
    QCOMPARE(file.exists(), kept);
    if (code == 0) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), reply.body);
    }
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
    HttpFixture::Reply reply = trickle(bodyOf(40000), 1000);
    reply.ranges = ranges;
    _http->setReply(QStringLiteral("/v.mp4"), reply);
    const FeedEnclosure enclosure = enclosureAt(QStringLiteral("/v.mp4"));

    _tamsil->downloadEnclosure(enclosure);
    QTRY_VERIFY(_progress->count() >= 3);
    _tamsil->pauseDownloadEnclosure();
    expectResults({QStringLiteral("enclosure failed 203")});
    const qint64 partial = QFileInfo(enclosure.localUrl()).size();
    QVERIFY(partial > 0 && partial < reply.body.size());

    _tamsil->resumeDownloadEnclosure(enclosure);
    expectResults({QStringLiteral("enclosure failed 203"), QStringLiteral("enclosure finished")});
    QCOMPARE(_http->requests().last().header("Range"), "bytes=" + QByteArray::number(partial) + '-');
    // The whole file's length, not the part fetched after the pause.
    QCOMPARE(_finished.value(QStringLiteral("length")).toInt(), reply.body.size());
    QFile file(enclosure.localUrl());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), reply.body);
    QCOMPARE(_progress->last(), QVariantList({40000, 40000}));
}

void tst_Tamsil::interruptions_data()
{
    QTest::addColumn<bool>("feed");        // the running request is a feed, else an enclosure
    QTest::addColumn<QString>("then");     // what follows once it is under way
    QTest::addColumn<QString>("result");
    QTest::newRow("cancel an enclosure") << false << "cancel" << "enclosure failed 201";
    QTest::newRow("pause a feed") << true << "pause" << "feed failed 201";
    QTest::newRow("a new enclosure supersedes") << false << "enclosure" << "enclosure finished";
    QTest::newRow("a new feed supersedes") << true << "feed" << "feed finished";
}

// Exactly one result per request: the interrupted one says nothing more, and a pause or cancel
// after the end goes unheard.
void tst_Tamsil::interruptions()
{
    QFETCH(bool, feed);
    QFETCH(QString, then);
    QFETCH(QString, result);
    _http->setReply(QStringLiteral("/slow"), feed ? stalled("<rss><channel><title>stale</title>" + bodyOf(20000))
                                                  : trickle(bodyOf(40000)));
    _http->serve(QStringLiteral("/feed"), Rss, "application/rss+xml");
    _http->serve(QStringLiteral("/fast"), "fast body", "text/plain");
    if (feed)
        _tamsil->downloadFeeds(channelFor(_http->url(QStringLiteral("/slow"))));
    else
        _tamsil->downloadEnclosure(enclosureAt(QStringLiteral("/slow")));
    QTRY_VERIFY(!_progress->isEmpty());
    if (then == QLatin1String("cancel"))
        _tamsil->cancelDownload();
    else if (then == QLatin1String("pause"))
        _tamsil->pauseDownloadEnclosure();
    else if (then == QLatin1String("feed"))
        _tamsil->downloadFeeds(channelFor(_http->url(QStringLiteral("/feed"))));
    else
        _tamsil->downloadEnclosure(enclosureAt(QStringLiteral("/fast")));
    expectResults({result});
    if (then == QLatin1String("feed"))
        QCOMPARE(_tamsil->channel().messages().size(), 1);
    if (then == QLatin1String("enclosure"))
        QCOMPARE(_finished.value(QStringLiteral("length")).toUInt(), 9u);
    _tamsil->cancelDownload();
    _tamsil->pauseDownloadEnclosure();
    expectResults({result});
}

void tst_Tamsil::idleIgnoresPauseAndCancel()
{
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Going to pause download for channel: ")));
    QTest::ignoreMessage(QtDebugMsg, "Plugin is idle. Cannot cancel !");
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Going to cancel download for channel: ")));
    QTest::ignoreMessage(QtDebugMsg, "Plugin is idle. Cannot cancel !");
    _tamsil->pauseDownloadEnclosure();
    _tamsil->cancelDownload();
    expectResults({});
}

VIRELON_TEST_MAIN(tst_Tamsil)
#include "tst_tamsil.moc"
