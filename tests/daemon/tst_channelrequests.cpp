#include "daemonfixture.h"
#include "daemonground.h"
#include "feedtrackersparql.h"
#include "httpfixture.h"
#include "testenvironment.h"

#include <QDBusReply>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>

#include <memory>

namespace {

using namespace DaemonFixture;

const QByteArray Feed = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0">
  <channel>
    <title>Harbour Notes</title>
    <link>http://harbour.example/</link>
    <description>Small news from a small harbour.</description>
    <item>
      <title>Ferry timetable changes for winter</title>
      <link>http://harbour.example/notes/ferry-winter</link>
      <description>From Monday the first ferry leaves at 07:10.</description>
    </item>
    <item>
      <title>Lighthouse open day</title>
      <link>http://harbour.example/notes/lighthouse</link>
      <description>The lighthouse opens its doors on Saturday.</description>
    </item>
  </channel>
</rss>
)";

QVariantMap channelStatus(const QStringList& uris)
{
    return QDBusReply<QVariantMap>(call(QStringLiteral("channelStatus"), {uris})).value();
}

} // namespace

// The daemon as clients meet it, on a bus of the test's own with its own store, fetching with
// the real tamsil from feeds served on 127.0.0.1.
class tst_ChannelRequests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void subscribeRefreshUnsubscribe();
    void crashingPluginIsGivenUp();
    void statusMaps();
    void subscribeRefused_data();
    void subscribeRefused();

private:
    // Subscribes one feed and waits for the first refresh to end; the new channel's URI.
    QString subscribe(const QString& path, const QString& plugin, const QString& endSignal);
    QString storedChannel(const QString& uri) const;

    QTemporaryDir _dir;
    DaemonGround _ground;
    HttpFixture _http;
    std::unique_ptr<Daemon> _daemon;
    std::unique_ptr<SignalRecorder> _signals;
};

void tst_ChannelRequests::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_dir.isValid());
    QVERIFY(_ground.prepare(_dir.path(), {{QStringLiteral("crash"), QStringLiteral(FAKE_PLUGIN)}}));

    for (const char* path : {"/feed.xml", "/other.xml", "/third.xml", "/fourth.xml", "/mixed.xml"})
        _http.serve(QString::fromLatin1(path), Feed, "application/rss+xml");
    HttpFixture::Reply stalled;
    stalled.body = Feed;
    stalled.delivery = HttpFixture::Stall;
    stalled.chunkSize = 16;
    stalled.addHeader("Content-Type", "application/rss+xml");
    _http.setReply(QStringLiteral("/stalled.xml"), stalled);
    HttpFixture::Reply missing;
    missing.status = 404;
    _http.setReply(QStringLiteral("/missing.xml"), missing);
}

void tst_ChannelRequests::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _ground.release();
}

void tst_ChannelRequests::init()
{
    _daemon.reset(new Daemon);
    QVERIFY(_daemon->waitForService());
    _signals.reset(new SignalRecorder);
}

void tst_ChannelRequests::cleanup()
{
    if (QTest::currentTestFailed())
        qInfo().noquote() << _daemon->log();
    _signals.reset();
    _daemon.reset();
}

QString tst_ChannelRequests::subscribe(const QString& path, const QString& plugin, const QString& endSignal)
{
    return _signals->subscribe(_http.url(path).toString(), plugin, endSignal);
}

// The title the store holds for the channel, empty when it holds no such channel.
QString tst_ChannelRequests::storedChannel(const QString& uri) const
{
    return FeedTrackerSparql::instance()->channelForUri(uri).title();
}

void tst_ChannelRequests::subscribeRefreshUnsubscribe()
{
    const QString uri = subscribe(QStringLiteral("/feed.xml"), QStringLiteral("tamsil"), QStringLiteral("refreshCompleted"));
    QVERIFY(!uri.isEmpty());
    QCOMPARE(_signals->count(QStringLiteral("refreshError")), 0);
    QCOMPARE(storedChannel(uri), QStringLiteral("Harbour Notes"));
    QCOMPARE(FeedTrackerSparql::instance()->messagesForChannel(uri).size(), 2);
    QCOMPARE(channelStatus({uri}), QVariantMap({{uri, 0}}));

    QCOMPARE(call(QStringLiteral("refresh"), {QStringList{uri}}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(_signals->waitFor(QStringLiteral("refreshCompleted"), 2));
    QCOMPARE(_signals->count(QStringLiteral("refreshStarted")), 2);
    QCOMPARE(_signals->arguments(QStringLiteral("refreshCompleted")).last(), QVariantList{uri});
    QCOMPARE(FeedTrackerSparql::instance()->messagesForChannel(uri).size(), 2);

    // Only a channel takes an edit: a message keeps its title.
    const QString message = FeedTrackerSparql::instance()->allMessageUrls(uri).value(0);
    const QString none = QStringLiteral("urn:uuid:none");
    const QVariantMap title{{QStringLiteral("2"), QStringLiteral("HACKED")}};
    for (const QString& target : {message, none, uri})
        QCOMPARE(call(QStringLiteral("editChannel"), {target, title}).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(_signals->arguments(QStringLiteral("editChannelStatus")),
             QList<QVariantList>({{message, 202}, {none, 202}, {uri, 0}}));
    QCOMPARE(storedChannel(uri), QStringLiteral("HACKED"));
    for (const FeedMessage& stored : FeedTrackerSparql::instance()->messagesForChannel(uri))
        QVERIFY(stored.title() != QLatin1String("HACKED"));
    // Regression: a map with no key to change answered 0, and a link no refresh can fetch was
    // stored and refreshed.
    const QString link = FeedTrackerSparql::instance()->channelForUri(uri).link();
    for (const QVariantMap& edit : {QVariantMap{{"9", "x"}}, QVariantMap{{"1", "ftp://127.0.0.1/feed"}},
                                    QVariantMap{{"1", "javascript:alert(1)"}, {"2", "Script"}}})
        QCOMPARE(call(QStringLiteral("editChannel"), {uri, edit}).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(_signals->arguments(QStringLiteral("editChannelStatus")).mid(3),
             QList<QVariantList>({{uri, 202}, {uri, 202}, {uri, 202}}));
    QCOMPARE(FeedTrackerSparql::instance()->channelForUri(uri).link(), link);
    QCOMPARE(storedChannel(uri), QStringLiteral("HACKED"));
    QCOMPARE(_signals->count(QStringLiteral("refreshStarted")), 2);

    QCOMPARE(call(QStringLiteral("unsubscribe"), {uri}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(storedChannel(uri).isEmpty());
    QVERIFY(FeedTrackerSparql::instance()->messagesForChannel(uri).isEmpty());
    QCOMPARE(channelStatus({uri}), QVariantMap());
    QVERIFY(!channelStatus({}).contains(uri));
    QCOMPARE(_signals->count(QStringLiteral("refreshError")), 0);
}

void tst_ChannelRequests::crashingPluginIsGivenUp()
{
    const QString uri = subscribe(QStringLiteral("/other.xml"), QStringLiteral("crash"), QStringLiteral("refreshError"));
    QVERIFY(!uri.isEmpty());
    QCOMPARE(_signals->arguments(QStringLiteral("refreshError")), QList<QVariantList>({{uri, 202}}));
    QCOMPARE(_signals->count(QStringLiteral("refreshStarted")), 3);
    QCOMPARE(channelStatus({uri}), QVariantMap({{uri, 202}}));

    const QString next = subscribe(QStringLiteral("/third.xml"), QStringLiteral("tamsil"), QStringLiteral("refreshCompleted"));
    QVERIFY(!next.isEmpty());
    QCOMPARE(storedChannel(next), QStringLiteral("Harbour Notes"));
}

// A stored code answers for a URI asked for, also while it waits; asked for everything, waiting
// wins. A URI holding "/" is stored under its escaped key and answered as it is.
void tst_ChannelRequests::statusMaps()
{
    const QString fetched = subscribe(QStringLiteral("/fourth.xml"), QStringLiteral("tamsil"),
                                      QStringLiteral("refreshCompleted"));
    QVERIFY(!fetched.isEmpty());
    const QString failed = subscribe(QStringLiteral("/missing.xml"), QStringLiteral("tamsil"),
                                     QStringLiteral("refreshError"));
    QVERIFY(!failed.isEmpty());
    const int notFound = _signals->arguments(QStringLiteral("refreshError")).last().value(1).toInt();
    QVERIFY(notFound != 0 && notFound != 201);

    const QString slashed = QStringLiteral("http://127.0.0.1/channels/a");
    QSparqlConnection store(QStringLiteral("QTRACKER_DIRECT"));
    QSparqlQuery insert(QStringLiteral("INSERT { ?:uri a mfo:FeedChannel ; nie:characterSet \"nosuchplugin\" }"),
                        QSparqlQuery::InsertStatement);
    insert.bindValue(QStringLiteral("uri"), QUrl(slashed));
    std::unique_ptr<QSparqlResult> inserted(store.exec(insert));
    QVERIFY(inserted && !inserted->hasError());
    QCOMPARE(call(QStringLiteral("refresh"), {QStringList{slashed}}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(_signals->waitFor(QStringLiteral("refreshError"), 2));
    QCOMPARE(_signals->arguments(QStringLiteral("refreshError")).last(), QVariantList({slashed, 202}));

    const int started = _signals->count(QStringLiteral("refreshStarted"));
    const QString waiting = subscribe(QStringLiteral("/stalled.xml"), QStringLiteral("tamsil"),
                                      QStringLiteral("refreshStarted"));
    QVERIFY(!waiting.isEmpty());
    QCOMPARE(_signals->count(QStringLiteral("refreshStarted")), started + 1);
    QCOMPARE(call(QStringLiteral("refresh"), {QStringList{fetched}}).type(), QDBusMessage::ReplyMessage);

    const QVariantMap asked = channelStatus({fetched, failed, slashed, waiting, QStringLiteral("urn:uuid:none")});
    QCOMPARE(asked, QVariantMap({{fetched, 0}, {failed, notFound}, {slashed, 202}, {waiting, 1}}));
    const QVariantMap everything = channelStatus({});
    QCOMPARE(everything.value(fetched), QVariant(1));
    QCOMPARE(everything.value(waiting), QVariant(1));
    QCOMPARE(everything.value(failed).toInt(), notFound);
    QCOMPARE(everything.value(slashed).toInt(), 202);

    QCOMPARE(call(QStringLiteral("cancelRefresh"), {QStringList{waiting}}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(_signals->waitFor(QStringLiteral("refreshCompleted"), 2));
    QCOMPARE(_signals->arguments(QStringLiteral("refreshError")).last(), QVariantList({waiting, 201}));
    QCOMPARE(_signals->arguments(QStringLiteral("refreshCompleted")).last(), QVariantList{fetched});
    QCOMPARE(channelStatus({waiting}), QVariantMap());

    // Regression: read again after a restart, every code came back as text.
    _daemon.reset();
    _daemon.reset(new Daemon);
    QVERIFY(_daemon->waitForService());
    const QVariantMap restarted[] = {channelStatus({}), channelStatus({fetched, failed, slashed})};
    for (const QVariantMap& status : restarted) {
        QCOMPARE(status.value(failed), QVariant(notFound));
        for (const QString& uri : {fetched, failed, slashed})
            QCOMPARE(status.value(uri).userType(), int(QMetaType::Int));
    }
}

// Fault guarded: a channel that no refresh could ever fetch was stored, and its link then refused
// as a duplicate. A type is a program of the plug-in folder by the name as given.
void tst_ChannelRequests::subscribeRefused_data()
{
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("good");
    const QString mixed = _http.url(QStringLiteral("/mixed.xml")).toString();
    QTest::newRow("type names a path") << QStringList{mixed} << "../../../bin/sh" << QStringList();
    QTest::newRow("type in capitals") << QStringList{mixed} << "TAMSIL" << QStringList();
    QTest::newRow("file link") << QStringList{"file:///etc/hostname"} << "tamsil" << QStringList();
    QTest::newRow("a bad and a good link") << QStringList{"ftp://127.0.0.1/mixed.xml", mixed} << "tamsil"
                                           << QStringList{mixed};
}

void tst_ChannelRequests::subscribeRefused()
{
    QFETCH(QStringList, links);
    QFETCH(QString, type);
    QFETCH(QStringList, good);
    const int mark = _daemon->settledLog().size();
    QCOMPARE(call(QStringLiteral("subscribe"), {links, type}).type(), QDBusMessage::ReplyMessage);
    QVERIFY(_signals->waitFor(QStringLiteral("refreshCompleted"), good.size()));
    const QStringList warnings = messages(_daemon->settledLog().mid(mark), QLatin1Char('W'), QStringLiteral("subscribe"));
    QCOMPARE(warnings.size(), links.size() - good.size());
    QCOMPARE(warnings.filter(links.first()).filter(type).size(), 1);
    QStringList stored;
    for (const FeedChannel& channel : FeedTrackerSparql::instance()->allChannels()) {
        if (links.contains(channel.link()))
            stored.append(channel.link());
    }
    QCOMPARE(stored, good);
    QCOMPARE(_signals->count(QStringLiteral("refreshStarted")), good.size());
}

VIRELON_TEST_MAIN(tst_ChannelRequests)
#include "tst_channelrequests.moc"
