#include "daemonfixture.h"
#include "daemonground.h"
#include "feedtrackersparql.h"
#include "httpfixture.h"
#include "testbearer.h"
#include "testenvironment.h"

#include <QDBusReply>

#include <memory>

namespace {

using namespace DaemonFixture;

QByteArray content(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed) % 251);
    return bytes;
}

QByteArray fileContent(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QByteArray feed(const QString& items)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                          "<title>Valley Sounds</title><link>http://valley.example/</link>"
                          "<description>Sounds of the valley.</description>%1</channel></rss>\n")
        .arg(items)
        .toUtf8();
}

QString item(const QString& name, const QString& description, const QString& enclosure = QString())
{
    return QStringLiteral("<item><title>%1</title><link>http://valley.example/%1</link><description>%2</description>"
                          "%3</item>")
        .arg(name, description,
             enclosure.isEmpty() ? QString()
                                 : QStringLiteral("<enclosure url=\"%1\" length=\"1\" type=\"audio/ogg\"/>").arg(enclosure));
}

qint64 sizeOf(const QString& path)
{
    return QFileInfo(path).size();
}

QDBusMessage platform(const QString& method, const QVariantList& arguments = QVariantList())
{
    return call(QStringLiteral("/korvel2"), QStringLiteral("com.vorlane.Virelon.Korvel2"), method, arguments);
}

QDBusMessage bearer(const QString& method, const QVariantList& arguments = QVariantList())
{
    return call(QStringLiteral("/testbearer"), QStringLiteral("com.vorlane.Virelon.TestBearer"), method, arguments);
}

bool setEthernet(const QString& configurationState)
{
    return QDBusReply<bool>(bearer(QStringLiteral("setConfiguration"),
                                   {QStringLiteral("eth0"), QStringLiteral("Ethernet"), configurationState}))
        .value();
}

bool setUsbMode(int mode)
{
    return platform(QStringLiteral("setUsbMode"), {mode}).type() == QDBusMessage::ReplyMessage;
}

int state()
{
    return QDBusReply<int>(call(QStringLiteral("state"))).value();
}

enum UsbMode { Idle = 2, MassStorage = 3 };

} // namespace

// Enclosure downloads while the network comes and goes and the device lends its file system to
// a USB host: the daemon with the platform stand-in under test control and the test bearer, the
// real store and tamsil, files served on 127.0.0.1.
class tst_EnclosurePauses : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void networkLostMidDownload();
    void massStorageDuringFeedFetch();
    void bothHoldTheDownload();
    void manualListWithoutNetwork_data();
    void manualListWithoutNetwork();

private:
    QString subscribe(const QString& path, const QByteArray& body, bool wait = true);
    FeedEnclosure enclosureOf(const QString& channelUri, const QString& path) const;
    QByteArray logSince(int mark) { return _daemon->settledLog().mid(mark); }
    QByteArray lastRange(const QString& path) const;
    QList<int> refreshStates() const;

    QTemporaryDir _dir;
    DaemonGround _ground;
    HttpFixture _http;
    std::unique_ptr<Daemon> _daemon;
    std::unique_ptr<SignalRecorder> _signals;
};

void tst_EnclosurePauses::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_dir.isValid());
    QVERIFY(_ground.prepare(_dir.path()));
}

void tst_EnclosurePauses::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _ground.release();
}

// A daemon on the test bearer, connected over ethernet.
void tst_EnclosurePauses::init()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_PLATFORM_CONTROL"), QStringLiteral("1"));
    for (const char* name : {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"})
        environment.remove(QString::fromLatin1(name));
    TestBearer::addTo(environment);
    _daemon.reset(new Daemon(environment));
    QVERIFY(_daemon->waitForService());
    _signals.reset(new SignalRecorder);
    QCOMPARE(state(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(bearer(QStringLiteral("openedConfigurations")).type(), QDBusMessage::ReplyMessage,
                              timeout());
    QCOMPARE(bearer(QStringLiteral("setDefault"), {QStringLiteral("eth0")}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(setEthernet(QStringLiteral("Active")));
    QTRY_COMPARE_WITH_TIMEOUT(QDBusReply<QStringList>(bearer(QStringLiteral("openedConfigurations"))).value(),
                              QStringList{"eth0"}, timeout());
    QTRY_COMPARE_WITH_TIMEOUT(state(), 0, timeout());
    _signals->clear();
}

void tst_EnclosurePauses::cleanup()
{
    if (QTest::currentTestFailed() || qEnvironmentVariableIsSet("VIRELON_TEST_SHOW_LOG"))
        qInfo().noquote() << _daemon->log();
    _signals.reset();
    _daemon.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!serving(), timeout());
}

QString tst_EnclosurePauses::subscribe(const QString& path, const QByteArray& body, bool wait)
{
    if (!body.isEmpty())
        _http.serve(path, body, "application/rss+xml");
    const QString link = _http.url(path).toString();
    if (wait)
        return _signals->subscribe(link);
    const int started = _signals->count(QStringLiteral("refreshStarted"));
    if (call(QStringLiteral("subscribe"), {QStringList{link}, QStringLiteral("tamsil")}).type()
            != QDBusMessage::ReplyMessage
        || !_signals->waitFor(QStringLiteral("refreshStarted"), started + 1))
        return QString();
    return _signals->arguments(QStringLiteral("refreshStarted")).last().value(0).toString();
}

FeedEnclosure tst_EnclosurePauses::enclosureOf(const QString& channelUri, const QString& path) const
{
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    for (const QString& message : store->allMessageUrls(channelUri)) {
        for (const FeedEnclosure& enclosure : store->enclosuresForMessage(message)) {
            if (QUrl(enclosure.remoteUrl()).path() == path)
                return enclosure;
        }
    }
    return FeedEnclosure();
}

QByteArray tst_EnclosurePauses::lastRange(const QString& path) const
{
    const QList<HttpFixture::Request> requests = _http.requests(path);
    return requests.isEmpty() ? QByteArray("(none)") : requests.last().header("Range");
}

QList<int> tst_EnclosurePauses::refreshStates() const
{
    QList<int> states;
    for (const QVariantList& arguments : _signals->arguments(QStringLiteral("refreshState")))
        states << arguments.value(0).toInt();
    return states;
}

// The running download is paused with the network and goes on from its ".part" when it is back.
void tst_EnclosurePauses::networkLostMidDownload()
{
    const QByteArray body = content(1024 * 1024, 1);
    const int first = 64 * 1024;
    _http.setReply(QStringLiteral("/lost.ogg"), HttpFixture::held(body, first));
    const QString channel = subscribe(QStringLiteral("/lost.xml"), feed(item("Lost", "Sound", _http.url("/lost.ogg").toString())));
    QVERIFY(!channel.isEmpty());
    const FeedEnclosure enclosure = enclosureOf(channel, QStringLiteral("/lost.ogg"));
    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{enclosure.uri()}});
    QTRY_COMPARE_WITH_TIMEOUT(sizeOf(enclosure.localUrl() + ".part"), qint64(first), timeout());

    QVERIFY(setEthernet(QStringLiteral("Discovered")));
    QVERIFY(_signals->waitFor(QStringLiteral("refreshState")));
    QTRY_VERIFY_WITH_TIMEOUT(_daemon->log().contains("Paused, prepending task"), timeout());
    QCOMPARE(sizeOf(enclosure.localUrl() + ".part"), qint64(first));
    QCOMPARE(state(), 2);

    _http.release(QStringLiteral("/lost.ogg"));
    QVERIFY(setEthernet(QStringLiteral("Active")));
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadCompleted")));
    // The last manual download is told ended after its completion.
    QVERIFY(_signals->waitFor(QStringLiteral("refreshState"), 3));
    QCOMPARE(refreshStates(), QList<int>({409, 410, 2}));
    QCOMPARE(lastRange("/lost.ogg"), "bytes=" + QByteArray::number(first) + '-');
    QCOMPARE(fileContent(enclosure.localUrl()), body);
    QCOMPARE(_signals->count(QStringLiteral("enclosureDownloadError")), 0);
}

// A feed being fetched when mass-storage mode begins is fetched and stored; its images wait
// until the file system is back.
void tst_EnclosurePauses::massStorageDuringFeedFetch()
{
    const QString image = QStringLiteral("/usb.png");
    _http.serve(image, content(4096, 2), "image/png");
    QString items = item("Picture", QStringLiteral("&lt;img src=\"%1\"/&gt;").arg(_http.url(image).toString()));
    for (int i = 0; i < 20; ++i)
        items += item(QStringLiteral("Padding%1").arg(i), QStringLiteral("Text to fetch slowly."));
    HttpFixture::Reply slow = HttpFixture::held(feed(items), 128);
    slow.addHeader("Content-Type", "application/rss+xml");
    _http.setReply(QStringLiteral("/usb.xml"), slow);
    const QString channel = subscribe(QStringLiteral("/usb.xml"), QByteArray(), false);
    QVERIFY(!channel.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(_http.requests(QStringLiteral("/usb.xml")).size(), 1, timeout());
    QVERIFY(setUsbMode(MassStorage));
    QCOMPARE(state(), 1);
    _http.release(QStringLiteral("/usb.xml"));

    QTRY_COMPARE_WITH_TIMEOUT(FeedTrackerSparql::instance()->allMessageUrls(channel).size(), 21, timeout());
    const QByteArray log = logSince(0);
    QVERIFY(log.indexOf("Entered Mass storage mode") < log.indexOf("downloaded successfully"));
    QVERIFY(log.contains("User paused downloads"));
    QCOMPARE(_http.requests(image).size(), 0);
    QCOMPARE(_signals->count(QStringLiteral("refreshCompleted")), 0);
    QCOMPARE(_signals->count(QStringLiteral("refreshError")), 0);

    QVERIFY(setUsbMode(Idle));
    QVERIFY(_signals->waitFor(QStringLiteral("refreshCompleted")));
    QCOMPARE(refreshStates(), QList<int>({204, 205}));
    QCOMPARE(_http.requests(image).size(), 1);
    QCOMPARE(fileContent(enclosureOf(channel, image).localUrl()), content(4096, 2));
}

// With the network lost and the file system lent out, the download goes on only once both are
// back, in either order.
void tst_EnclosurePauses::bothHoldTheDownload()
{
    const QByteArray body = content(1024 * 1024, 3);
    const int first = 64 * 1024;
    _http.setReply(QStringLiteral("/both.ogg"), HttpFixture::held(body, first));
    const QString channel = subscribe(QStringLiteral("/both.xml"), feed(item("Both", "Sound", _http.url("/both.ogg").toString())));
    QVERIFY(!channel.isEmpty());
    const FeedEnclosure enclosure = enclosureOf(channel, QStringLiteral("/both.ogg"));
    call(QStringLiteral("downloadEnclosure"), {channel, QStringList{enclosure.uri()}});
    QTRY_COMPARE_WITH_TIMEOUT(sizeOf(enclosure.localUrl() + ".part"), qint64(first), timeout());

    QVERIFY(setEthernet(QStringLiteral("Discovered")));
    QTRY_VERIFY_WITH_TIMEOUT(_daemon->log().contains("Paused, prepending task"), timeout());
    _http.release(QStringLiteral("/both.ogg"));
    QVERIFY(setUsbMode(MassStorage));
    QCOMPARE(state(), 3);
    const int mark = _daemon->settledLog().size();
    QVERIFY(setUsbMode(Idle));
    QCOMPARE(state(), 2);
    QCOMPARE(refreshStates(), QList<int>({409, 204, 205}));
    QVERIFY(!logSince(mark).contains("Processing enclosure task"));
    QCOMPARE(_http.requests("/both.ogg").size(), 1);

    QVERIFY(setEthernet(QStringLiteral("Active")));
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadCompleted")));
    QVERIFY(_signals->waitFor(QStringLiteral("refreshState"), 5));
    QCOMPARE(refreshStates(), QList<int>({409, 204, 205, 410, 2}));
    QCOMPARE(lastRange("/both.ogg"), "bytes=" + QByteArray::number(first) + '-');
    QCOMPARE(fileContent(enclosure.localUrl()), body);
}

void tst_EnclosurePauses::manualListWithoutNetwork_data()
{
    QTest::addColumn<QString>("request");
    QTest::newRow("download") << QStringLiteral("downloadEnclosure");
    // Fault guarded: a resume asked for a connection for each of its enclosures.
    QTest::newRow("resume") << QStringLiteral("resumeDownloadEnclosure");
}

// Fault guarded: each enclosure of a manual list asked for a connection of its own, the user
// being asked again for each.
void tst_EnclosurePauses::manualListWithoutNetwork()
{
    QFETCH(QString, request);
    const QString a = QStringLiteral("/%1-a.ogg").arg(request);
    const QString b = QStringLiteral("/%1-b.ogg").arg(request);
    _http.serve(a, content(1024, 4), "audio/ogg");
    _http.serve(b, content(1024, 5), "audio/ogg");
    const QString channel = subscribe(QStringLiteral("/offline-%1.xml").arg(request),
                                      feed(item("A", "Sound", _http.url(a).toString())
                                           + item("B", "Sound", _http.url(b).toString())));
    QVERIFY(!channel.isEmpty());
    const QStringList uris = {enclosureOf(channel, a).uri(), enclosureOf(channel, b).uri()};
    QVERIFY(setEthernet(QStringLiteral("Discovered")));
    QTRY_COMPARE_WITH_TIMEOUT(state(), 2, timeout());
    QCOMPARE(bearer(QStringLiteral("setSessionOutcome"), {QStringLiteral("fails")}).type(), QDBusMessage::ReplyMessage);

    const int mark = _daemon->settledLog().size();
    QCOMPARE(call(request, {channel, uris}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadError"), 2));
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadError")),
             QList<QVariantList>({{QStringList{uris.at(0)}, 409, 0LL}, {QStringList{uris.at(1)}, 409, 0LL}}));
    QCOMPARE(messages(logSince(mark), QLatin1Char('D'), QStringLiteral("createConnection")).filter("Trying to connect").size(), 1);
    QCOMPARE(_http.requests(a).size() + _http.requests(b).size(), 0);
}

VIRELON_TEST_MAIN(tst_EnclosurePauses)
#include "tst_enclosurepauses.moc"
