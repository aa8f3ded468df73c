#include "daemonfixture.h"
#include "daemonground.h"
#include "feedtrackersparql.h"
#include "httpfixture.h"
#include "testbearer.h"
#include "testenvironment.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QProcess>

#include <memory>

namespace {

using namespace DaemonFixture;

const QByteArray Feed = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0">
  <channel>
    <title>Valley Weather</title>
    <link>http://valley.example/</link>
    <description>Forecasts for the valley.</description>
    <item>
      <title>Frost tonight</title>
      <link>http://valley.example/frost</link>
      <description>Cover the seedlings.</description>
    </item>
  </channel>
</rss>
)";

// The feed with a sound of the frost as its item's enclosure.
QByteArray feedWithEnclosure(const QUrl& enclosure)
{
    return QByteArray(Feed).replace("</item>", "<enclosure url=\"" + enclosure.toEncoded()
                                                   + "\" length=\"2048\" type=\"audio/ogg\"/></item>");
}

// The platform stand-in's controls inside the daemon.
QDBusMessage platform(const QString& method, const QVariantList& arguments = QVariantList())
{
    return call(QStringLiteral("/korvel2"), QStringLiteral("com.vorlane.Virelon.Korvel2"), method, arguments);
}

// The test bearer inside the daemon.
QDBusMessage bearer(const QString& method, const QVariantList& arguments = QVariantList())
{
    return call(QStringLiteral("/testbearer"), QStringLiteral("com.vorlane.Virelon.TestBearer"), method, arguments);
}

QStringList waits()
{
    return QDBusReply<QStringList>(platform(QStringLiteral("waits"))).value();
}

int acknowledgements()
{
    return QDBusReply<int>(platform(QStringLiteral("acknowledgements"))).value();
}

bool fireWakeUp()
{
    return QDBusReply<bool>(platform(QStringLiteral("fireWakeUp"))).value();
}

void setUsbMode(int mode)
{
    QCOMPARE(platform(QStringLiteral("setUsbMode"), {mode}).type(), QDBusMessage::ReplyMessage);
}

int state()
{
    return QDBusReply<int>(call(QStringLiteral("state"))).value();
}

bool setConfiguration(const QString& id, const QString& bearerName, const QString& configurationState)
{
    return QDBusReply<bool>(bearer(QStringLiteral("setConfiguration"), {id, bearerName, configurationState})).value();
}

} // namespace

// The daemon's heartbeat, USB-mode and network handling as clients and the platform see them:
// the built daemon on a bus of the test's own, with its own store, the real tamsil fetching from
// 127.0.0.1, the platform stand-in under test control and, unless a case says otherwise, the
// test bearer as the only bearer.
class tst_VirelonDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void automaticRefresh();
    void automaticRefreshOnlyOverWlan();
    void enclosuresOnlyOverWlan();
    void stateWord();
    void withoutBearer();
    void throughTheProxy();

private:
    void installSettings(const QByteArray& settings);
    QProcessEnvironment environment(bool testBearer, const QString& proxy) const;
    // Starts the daemon; with configurations ("id bearer state", the first the default) it runs on
    // the test bearer and has opened the first one.
    void startDaemon(const QByteArray& settings, const QStringList& configurations,
                     const QString& proxy = QString());
    // Subscribes the feed at the URL and waits for its first refresh to complete; the channel URI.
    QString subscribe(const QUrl& feed);
    // The requests for the path since the case began.
    int feedRequests(const QByteArray& path) const;

    QTemporaryDir _dir;
    DaemonGround _ground;
    HttpFixture _http;
    std::unique_ptr<Daemon> _daemon;
    std::unique_ptr<SignalRecorder> _signals;
    int _earlierRequests = 0;
};

void tst_VirelonDevice::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_dir.isValid());
    QVERIFY(_ground.prepare(_dir.path()));

    _http.serve(QStringLiteral("/feed.xml"), Feed, "application/rss+xml");
    // What a proxy is asked for: the whole URL.
    _http.serve(QStringLiteral("http://weather.invalid/feed.xml"), Feed, "application/rss+xml");
}

void tst_VirelonDevice::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _ground.release();
}

void tst_VirelonDevice::init()
{
    QVERIFY(QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/virelon")).removeRecursively());
    FeedTrackerSparql::instance()->deleteAllChannels();
    _earlierRequests = _http.requests().size();
}

void tst_VirelonDevice::cleanup()
{
    if (QTest::currentTestFailed() && _daemon)
        qInfo().noquote() << _daemon->log();
    _signals.reset();
    _daemon.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!serving(), timeout());
}

void tst_VirelonDevice::installSettings(const QByteArray& settings)
{
    const QString folder = qEnvironmentVariable("VIRELON_CONFIG_DIR");
    QVERIFY(QDir().mkpath(folder));
    QFile file(folder + QStringLiteral("/settings.conf"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(settings);
}

QProcessEnvironment tst_VirelonDevice::environment(bool testBearer, const QString& proxy) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_PLATFORM_CONTROL"), QStringLiteral("1"));
    for (const char* name : {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"})
        environment.remove(QString::fromLatin1(name));
    if (!proxy.isEmpty())
        environment.insert(QStringLiteral("http_proxy"), proxy);
    // Without it, no bearer knows a configuration (see TestEnvironment).
    if (testBearer)
        TestBearer::addTo(environment);
    return environment;
}

void tst_VirelonDevice::startDaemon(const QByteArray& settings, const QStringList& configurations,
                                    const QString& proxy)
{
    installSettings(settings);
    _daemon.reset();
    _daemon.reset(new Daemon(environment(!configurations.isEmpty(), proxy)));
    QVERIFY(_daemon->waitForService());
    _signals.reset(new SignalRecorder);
    if (configurations.isEmpty())
        return;

    // The first question about the state makes the scheduler and with it the network manager,
    // which loads the bearer.
    QCOMPARE(state(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(bearer(QStringLiteral("openedConfigurations")).type(), QDBusMessage::ReplyMessage,
                              timeout());
    const QString first = configurations.first().section(QLatin1Char(' '), 0, 0);
    QCOMPARE(bearer(QStringLiteral("setDefault"), {first}).type(), QDBusMessage::ReplyMessage);
    for (const QString& configuration : configurations) {
        const QStringList fields = configuration.split(QLatin1Char(' '));
        QVERIFY(setConfiguration(fields.at(0), fields.at(1), fields.at(2)));
    }
    QTRY_COMPARE_WITH_TIMEOUT(QDBusReply<QStringList>(bearer(QStringLiteral("openedConfigurations"))).value(),
                              QStringList{first}, timeout());
    QTRY_COMPARE_WITH_TIMEOUT(state(), 0, timeout());
}

QString tst_VirelonDevice::subscribe(const QUrl& feed)
{
    return _signals->subscribe(feed.toString());
}

int tst_VirelonDevice::feedRequests(const QByteArray& path) const
{
    const QList<HttpFixture::Request> requests = _http.requests().mid(_earlierRequests);
    return int(std::count_if(requests.cbegin(), requests.cend(),
                             [&path](const HttpFixture::Request& request) { return request.path == path; }));
}

// A wake-up refreshes every channel, and the queue running empty arms the next wait. A day's
// interval is longer than one heartbeat wait: a first leg wakes the daemon without a refresh.
void tst_VirelonDevice::automaticRefresh()
{
    startDaemon("[Refresh]\nautomatic=true\ninterval=10\n", {QStringLiteral("eth0 Ethernet Active")});
    QCOMPARE(waits(), QStringList{"600..660"});
    const QString uri = subscribe(_http.url(QStringLiteral("/feed.xml")));
    QVERIFY(!uri.isEmpty());
    QCOMPARE(feedRequests("/feed.xml"), 1);
    QCOMPARE(waits(), QStringList{"600..660"});

    QVERIFY(fireWakeUp());
    QVERIFY(_signals->waitFor(QStringLiteral("refreshCompleted"), 2));
    QCOMPARE(_signals->arguments(QStringLiteral("refreshCompleted")).last(), QVariantList{uri});
    QCOMPARE(feedRequests("/feed.xml"), 2);
    QTRY_COMPARE_WITH_TIMEOUT(waits(), QStringList({"600..660", "600..660"}), timeout());
    QCOMPARE(acknowledgements(), 1);

    call(QStringLiteral("setConf"), {QVariantMap{{QStringLiteral("Refresh/interval"), 1440}}});
    QCOMPARE(waits().mid(2), QStringList{"65535..65535"});
    QVERIFY(fireWakeUp());
    QTRY_COMPARE_WITH_TIMEOUT(waits().mid(2), QStringList({"65535..65535", "20865..29505"}), timeout());
    QCOMPARE(_signals->count(QStringLiteral("refreshStarted")), 2);
    QCOMPARE(feedRequests("/feed.xml"), 2);

    QVERIFY(fireWakeUp());
    QVERIFY(_signals->waitFor(QStringLiteral("refreshCompleted"), 3));
    QCOMPARE(feedRequests("/feed.xml"), 3);
    QTRY_COMPARE_WITH_TIMEOUT(waits().mid(2), QStringList({"65535..65535", "20865..29505", "65535..65535"}),
                              timeout());
}

// On ethernet a wake-up fetches nothing and the next wait is armed at once; once a WLAN comes
// up, the daemon moves over to it and refreshes.
void tst_VirelonDevice::automaticRefreshOnlyOverWlan()
{
    startDaemon("[Refresh]\nautomatic=true\ninterval=10\nonlywifi=true\n", {QStringLiteral("eth0 Ethernet Active")});
    const QString uri = subscribe(_http.url(QStringLiteral("/feed.xml")));
    QVERIFY(!uri.isEmpty());

    QVERIFY(fireWakeUp());
    QTRY_COMPARE_WITH_TIMEOUT(waits(), QStringList({"600..660", "600..660"}), timeout());
    QCOMPARE(_signals->count(QStringLiteral("refreshStarted")), 1);
    QCOMPARE(feedRequests("/feed.xml"), 1);

    QVERIFY(setConfiguration(QStringLiteral("wlan0"), QStringLiteral("WLAN"), QStringLiteral("Active")));
    QTRY_COMPARE_WITH_TIMEOUT(QDBusReply<QStringList>(bearer(QStringLiteral("openedConfigurations"))).value(),
                              QStringList({"eth0", "wlan0"}), timeout());
    QVERIFY(fireWakeUp());
    QVERIFY(_signals->waitFor(QStringLiteral("refreshCompleted"), 2));
    QCOMPARE(feedRequests("/feed.xml"), 2);
}

// A download that may go over WLAN only fails on ethernet, without a request; it goes once a
// WLAN has come up.
void tst_VirelonDevice::enclosuresOnlyOverWlan()
{
    const QByteArray sound(2048, 's');
    _http.serve(QStringLiteral("/frost.ogg"), sound, "audio/ogg");
    _http.serve(QStringLiteral("/frost.xml"), feedWithEnclosure(_http.url(QStringLiteral("/frost.ogg"))),
                "application/rss+xml");
    startDaemon("[Enclosure]\nautomatic=false\nonlywifi=true\n", {QStringLiteral("eth0 Ethernet Active")});
    const QString uri = subscribe(_http.url(QStringLiteral("/frost.xml")));
    QVERIFY(!uri.isEmpty());
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    const QStringList messages = store->allMessageUrls(uri);
    QCOMPARE(messages.size(), 1);
    const QList<FeedEnclosure> enclosures = store->enclosuresForMessage(messages.first());
    QCOMPARE(enclosures.size(), 1);
    const FeedEnclosure enclosure = enclosures.first();
    QCOMPARE(enclosure.type(), FeedEnclosure::Optional);

    const QString failed = QStringLiteral("enclosureDownloadError");
    QCOMPARE(call(QStringLiteral("downloadEnclosure"), {uri, QStringList{enclosure.uri()}}).type(),
             QDBusMessage::ReplyMessage);
    QVERIFY(_signals->waitFor(failed));
    QCOMPARE(_signals->arguments(failed), QList<QVariantList>({{QStringList{enclosure.uri()}, 411, 0LL}}));
    QCOMPARE(feedRequests("/frost.ogg"), 0);
    QVERIFY(!QFile::exists(enclosure.localUrl()));

    QVERIFY(setConfiguration(QStringLiteral("wlan0"), QStringLiteral("WLAN"), QStringLiteral("Active")));
    QTRY_COMPARE_WITH_TIMEOUT(QDBusReply<QStringList>(bearer(QStringLiteral("openedConfigurations"))).value(),
                              QStringList({"eth0", "wlan0"}), timeout());
    QCOMPARE(call(QStringLiteral("downloadEnclosure"), {uri, QStringList{enclosure.uri()}}).type(),
             QDBusMessage::ReplyMessage);
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadCompleted")));
    QCOMPARE(_signals->count(failed), 1);
    QCOMPARE(feedRequests("/frost.ogg"), 1);
    QFile file(enclosure.localUrl());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), sound);
}

// The word of D-Bus method state: bit 1 USB mass storage, bit 2 no network.
void tst_VirelonDevice::stateWord()
{
    startDaemon("", {QStringLiteral("eth0 Ethernet Active")});
    QCOMPARE(state(), 0);

    QVERIFY(setConfiguration(QStringLiteral("eth0"), QStringLiteral("Ethernet"), QStringLiteral("Discovered")));
    QTRY_COMPARE_WITH_TIMEOUT(state(), 2, timeout());
    QVERIFY(setConfiguration(QStringLiteral("eth0"), QStringLiteral("Ethernet"), QStringLiteral("Active")));
    QTRY_COMPARE_WITH_TIMEOUT(state(), 0, timeout());

    setUsbMode(3);
    QCOMPARE(state(), 1);
    setUsbMode(2);
    QCOMPARE(state(), 0);

    // A hand-over that is announced and then abandoned for another mode.
    QCOMPARE(platform(QStringLiteral("announceUnmount"), {0}).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(state(), 1);
    setUsbMode(4);
    QCOMPARE(state(), 0);
}

// No bearer knows a configuration: feeds come over the host's network, which is said once.
void tst_VirelonDevice::withoutBearer()
{
    startDaemon("", {});
    const QString uri = subscribe(_http.url(QStringLiteral("/feed.xml")));
    QVERIFY(!uri.isEmpty());
    QCOMPARE(call(QStringLiteral("refresh"), {QStringList{uri}}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(_signals->waitFor(QStringLiteral("refreshCompleted"), 2));
    QCOMPARE(feedRequests("/feed.xml"), 2);
    QCOMPARE(state(), 0);

    const QStringList unmanaged = messages(_daemon->settledLog(), QLatin1Char('C'), QStringLiteral("useHostNetwork"))
                                      .filter(QStringLiteral("unmanaged"));
    QCOMPARE(unmanaged.size(), 1);
}

// The inherited http_proxy carries the fetches: a host that no resolver knows comes through it.
void tst_VirelonDevice::throughTheProxy()
{
    startDaemon("", {QStringLiteral("eth0 Ethernet Active")}, _http.url(QStringLiteral("/")).toString());

    const QString uri = subscribe(QUrl(QStringLiteral("http://weather.invalid/feed.xml")));
    QVERIFY(!uri.isEmpty());
    QCOMPARE(feedRequests("http://weather.invalid/feed.xml"), 1);
    QCOMPARE(FeedTrackerSparql::instance()->channelForUri(uri).title(), QStringLiteral("Valley Weather"));
    const QStringList proxies =
        messages(_daemon->settledLog(), QLatin1Char('D'), QStringLiteral("retrieveAndSetproxy"));
    QCOMPARE(proxies.filter(QStringLiteral("Valid proxy Found")).size(), 1);
}

VIRELON_TEST_MAIN(tst_VirelonDevice)
#include "tst_virelondevice.moc"
