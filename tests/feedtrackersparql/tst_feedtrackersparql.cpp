#include "feedtrackersparql.h"
#include "storeendpoint.h"
#include "storetestsupport.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <qsparqlconnection.h>
#include <qsparqlresultrow.h>

using namespace StoreTestSupport;

namespace {

QSparqlResultRow row(const QVariantList& values)
{
    QSparqlResultRow result;
    for (const QVariant& value : values)
        result.append(QSparqlBinding(QStringLiteral("c"), value));
    return result;
}

FeedEnclosure enclosure(const QString& remote, const QString& local = QStringLiteral("/enclosures/file"))
{
    FeedEnclosure record;
    record.setRemoteUrl(remote);
    record.setLocalUrl(local);
    record.setMimeType(QStringLiteral("audio/mpeg"));
    record.setTypeIcon(QStringLiteral("icon-audio"));
    record.setType(FeedEnclosure::Optional);
    record.setLength(1234);
    record.setGroupId(7);
    record.setDefault(true);
    return record;
}

// Every stored field of an enclosure, for comparing a record read back with the one written.
QString fields(const FeedEnclosure& record)
{
    QString text;
    QDebug(&text) << record.remoteUrl() << record.localUrl() << record.mimeType() << record.typeIcon()
                  << int(record.type()) << record.length() << record.groupId() << record.isDefault();
    return text;
}

const QString Urn = QStringLiteral("urn:uuid:");

} // namespace

class tst_FeedTrackerSparql : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void instanceIsOnePerProcess();
    void channelRow_data();
    void channelRow();
    void enclosureRow_data();
    void enclosureRow();
    void messageRow();
    void emptyRows();

    void channelQueries();
    void channelQueriesOfMissingChannel_data();
    void channelQueriesOfMissingChannel();

    void enclosuresStoredExactly_data();
    void enclosuresStoredExactly();
    void knownRemoteLinkAddsOnlyParent();
    void sameNewRemoteLinkTwiceMakesOneNode();
    void unusableEnclosuresSkipped();
    void updateEnclosure();
    void updateOfUnknownEnclosureWritesNothing();
    void enclosureQueriesOfMissingNodes();

    void everyQueryParses();
    void missingStoreService();

private:
    FeedTrackerSparql* store() { return FeedTrackerSparql::instance(); }
    QString addChannelNode(const QString& link, const QString& title);
    QString addMessageNode(const QString& channelUri);

    QTemporaryDir _dir;
    std::unique_ptr<StoreEndpoint> _endpoint;
    std::unique_ptr<QSparqlConnection> _raw;
};

void tst_FeedTrackerSparql::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    _endpoint.reset(new StoreEndpoint(_dir.filePath(QStringLiteral("store"))));
    QVERIFY2(_endpoint->start(), "the store service did not start (is there a session bus?)");
    _raw.reset(new QSparqlConnection(QStringLiteral("QTRACKER_DIRECT")));
    QVERIFY(_raw->isValid());
    captureLog();
}

void tst_FeedTrackerSparql::init()
{
    wipe(_raw.get());
    takeLog();
}

void tst_FeedTrackerSparql::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _raw.reset();
    _endpoint.reset();
}

QString tst_FeedTrackerSparql::addChannelNode(const QString& link, const QString& title)
{
    const QString uri = _raw->createUrn().toString();
    update(_raw.get(), QStringLiteral("INSERT { <%1> a nie:DataObject; nie:created '2024-05-06T07:08:09Z'^^xsd:dateTime . "
                                      "<%2> a mfo:FeedChannel; nie:title '%3'; nie:links <%1>; nie:characterSet 'tamsil'; "
                                      "nie:comment 'Mon, 06 May 2024'; nie:contentLastModified '2024-06-01T10:00:00Z' }")
                           .arg(link, uri, title));
    return uri;
}

QString tst_FeedTrackerSparql::addMessageNode(const QString& channelUri)
{
    const QString uri = _raw->createUrn().toString();
    update(_raw.get(), QStringLiteral("INSERT { <%1> a mfo:FeedMessage; nie:isLogicalPartOf <%2> }").arg(uri, channelUri));
    return uri;
}

void tst_FeedTrackerSparql::instanceIsOnePerProcess()
{
    FeedTrackerSparql::releaseInstance();
    FeedTrackerSparql::releaseInstance();
    QVERIFY(takeLog().filter(QStringLiteral("object de-init")).size() <= 1);
    FeedTrackerSparql* first = FeedTrackerSparql::instance();
    QCOMPARE(FeedTrackerSparql::instance(), first);
    const QStringList log = takeLog();
    QCOMPARE(log.filter(QStringLiteral("object init")).size(), 1);
    QCOMPARE(log.filter(QStringLiteral("QTRACKER_DIRECT : Driver found")).size(), 1);
    QCOMPARE(FeedTrackerSparql::LinkKey, QStringLiteral("1"));
    QCOMPARE(FeedTrackerSparql::TitleKey, QStringLiteral("2"));
    QCOMPARE(FeedTrackerSparql::LastModifiedTimeKey, QStringLiteral("3"));
}

void tst_FeedTrackerSparql::channelRow_data()
{
    QTest::addColumn<QVariant>("subscribed");
    QTest::addColumn<QDateTime>("expected");
    const QDateTime utc(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
    QTest::newRow("unbound") << QVariant() << QDateTime();
    QTest::newRow("zone-less text is local") << QVariant(QStringLiteral("2024-01-02T03:04:05"))
                                             << QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::LocalTime);
    QTest::newRow("utc text") << QVariant(QStringLiteral("2024-01-02T03:04:05Z")) << utc;
    QTest::newRow("store time") << QVariant(utc) << utc;
    QTest::newRow("not a time") << QVariant(QStringLiteral("yesterday")) << QDateTime();
}

void tst_FeedTrackerSparql::channelRow()
{
    QFETCH(QVariant, subscribed);
    QFETCH(QDateTime, expected);
    const FeedChannel channel = extractChannel(row({QStringLiteral("urn:c"), QStringLiteral("T"), QStringLiteral("http://l/"),
                                                    QStringLiteral("tamsil"), QStringLiteral("lm"), subscribed, subscribed}));
    QCOMPARE(channel.uri(), QStringLiteral("urn:c"));
    QCOMPARE(channel.title(), QStringLiteral("T"));
    QCOMPARE(channel.link(), QStringLiteral("http://l/"));
    QCOMPARE(channel.type(), QStringLiteral("tamsil"));
    QCOMPARE(channel.lastModifiedTime(), QStringLiteral("lm"));
    QCOMPARE(channel.subscribedTime(), expected);
    QCOMPARE(channel.updatedTime(), expected);
    if (expected.isValid())
        QCOMPARE(channel.subscribedTime().timeSpec(), Qt::LocalTime);
}

void tst_FeedTrackerSparql::enclosureRow_data()
{
    QTest::addColumn<QVariantList>("columns");
    QTest::addColumn<unsigned int>("group");
    QTest::addColumn<unsigned int>("length");
    QTest::addColumn<bool>("isDefault");
    QTest::addColumn<int>("type");
    QTest::newRow("store values") << QVariantList{qlonglong(3), qlonglong(4096), true, true} << 3u << 4096u << true << 2;
    QTest::newRow("True is not true") << QVariantList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("True"), QStringLiteral("True")}
                                      << 1u << 2u << false << 1;
    QTest::newRow("unbound") << QVariantList{QVariant(), QVariant(), QVariant(), QVariant()} << 0u << 0u << false << 1;
    QTest::newRow("no numbers") << QVariantList{QStringLiteral("x"), QStringLiteral("-"), false, false} << 0u << 0u << false << 1;
    QTest::newRow("large length") << QVariantList{qlonglong(0), qlonglong(4294967295u), false, false} << 0u << 4294967295u << false << 1;
}

void tst_FeedTrackerSparql::enclosureRow()
{
    QFETCH(QVariantList, columns);
    QFETCH(unsigned int, group);
    QFETCH(unsigned int, length);
    QFETCH(bool, isDefault);
    QFETCH(int, type);
    const FeedEnclosure record = extractEnclosure(row({QStringLiteral("urn:e"), QStringLiteral("http://r/a%2520b"),
                                                       QStringLiteral("/l/x%20y"), columns.at(0), columns.at(1),
                                                       columns.at(2), columns.at(3), QStringLiteral("icon"),
                                                       QStringLiteral("mime/type")}));
    QCOMPARE(record.uri(), QStringLiteral("urn:e"));
    QCOMPARE(record.remoteUrl(), QStringLiteral("http://r/a%20b"));
    QCOMPARE(record.localUrl(), QStringLiteral("/l/x y"));
    QCOMPARE(record.groupId(), group);
    QCOMPARE(record.length(), length);
    QCOMPARE(record.isDefault(), isDefault);
    QCOMPARE(int(record.type()), type);
    QCOMPARE(record.typeIcon(), QStringLiteral("icon"));
    QCOMPARE(record.mimeType(), QStringLiteral("mime/type"));
}

void tst_FeedTrackerSparql::messageRow()
{
    const QDateTime published(QDate(2020, 2, 3), QTime(4, 5, 6), Qt::OffsetFromUTC, 3600);
    const QDateTime downloaded(QDate(2021, 2, 3), QTime(4, 5, 6), Qt::UTC);
    const FeedMessage message = extractMessage(row({QStringLiteral("urn:m"), QStringLiteral("T"), QStringLiteral("D"),
                                                    QStringLiteral("http://m/a%2520b"), published, downloaded,
                                                    QStringLiteral("http://tracker.api.gnome.org/ontology/v3/nao#predefined-tag-favorite"),
                                                    QStringLiteral("S")}));
    QCOMPARE(message.title(), QStringLiteral("T"));
    QCOMPARE(message.description(), QStringLiteral("D"));
    QCOMPARE(message.link(), QStringLiteral("http://m/a%20b"));
    QCOMPARE(message.publishedDate(), published);
    QCOMPARE(message.publishedDate().timeSpec(), Qt::LocalTime);
    QCOMPARE(message.downloadedTime(), downloaded);
    QVERIFY(message.isFavorite());
    QCOMPARE(message.summary(), QStringLiteral("S"));
    QVERIFY(!extractMessage(row({QVariant(), QString(), QString(), QString(), QVariant(), QVariant(), QVariant(), QString()})).isFavorite());
}

void tst_FeedTrackerSparql::emptyRows()
{
    QVERIFY(extractChannel(QSparqlResultRow()).uri().isEmpty());
    QVERIFY(extractMessage(QSparqlResultRow()).title().isEmpty());
    QVERIFY(extractEnclosure(QSparqlResultRow()).uri().isEmpty());
    QCOMPARE(countLogged(QStringLiteral("Empty row: returning empty channel")), 1);
    QCOMPARE(countLogged(QStringLiteral("Empty row: returning empty message")), 1);
    QCOMPARE(countLogged(QStringLiteral("Empty row: returning empty enclosure")), 1);
}

void tst_FeedTrackerSparql::channelQueries()
{
    QVERIFY(store()->allChannelUrls().isEmpty());
    QVERIFY(store()->allChannels().isEmpty());
    QCOMPARE(countLogged(QStringLiteral("Channel Uris: ")), 1);
    const QString first = addChannelNode(QStringLiteral("http://example.com/one"), QStringLiteral("One"));
    const QString second = addChannelNode(QStringLiteral("http://example.com/two"), QStringLiteral("Two"));
    update(_raw.get(), QStringLiteral("INSERT { <urn:bare> a mfo:FeedChannel }"));

    QStringList uris = store()->allChannelUrls();
    uris.sort();
    QStringList expected{first, second, QStringLiteral("urn:bare")};
    expected.sort();
    QCOMPARE(uris, expected);
    QCOMPARE(store()->allChannels().size(), 3);

    const FeedChannel channel = store()->channelForUri(first);
    QCOMPARE(channel.uri(), first);
    QCOMPARE(channel.title(), QStringLiteral("One"));
    QCOMPARE(channel.link(), QStringLiteral("http://example.com/one"));
    QCOMPARE(channel.type(), QStringLiteral("tamsil"));
    QCOMPARE(channel.lastModifiedTime(), QStringLiteral("Mon, 06 May 2024"));
    QCOMPARE(channel.subscribedTime(), QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC));
    QCOMPARE(channel.updatedTime(), QDateTime(QDate(2024, 6, 1), QTime(10, 0, 0), Qt::UTC));
    QCOMPARE(store()->channelType(second), QStringLiteral("tamsil"));

    const FeedChannel bare = store()->channelForUri(QStringLiteral("urn:bare"));
    QCOMPARE(bare.uri(), QStringLiteral("urn:bare"));
    QVERIFY(bare.title().isEmpty());
    QVERIFY(!bare.subscribedTime().isValid());
    QVERIFY(store()->channelType(QStringLiteral("urn:bare")).isEmpty());
    QCOMPARE(countLogged(QStringLiteral("Result not retrieved: returning empty channel uri")), 1);
}

void tst_FeedTrackerSparql::channelQueriesOfMissingChannel_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("channelWords");
    QTest::addColumn<QString>("typeWords");
    QTest::newRow("empty") << QString() << "Empty uri: returning empty channel" << "Empty uri: returning empty channel uri";
    QTest::newRow("no node") << QStringLiteral("urn:nothing") << "Result not retrieved: returning empty channel"
                             << "Result not retrieved: returning empty channel uri";
    QTest::newRow("message node") << QString() << "Result not retrieved: returning empty channel"
                                  << "Result not retrieved: returning empty channel uri";
    QTest::newRow("hostile") << QStringLiteral("urn:x> } DELETE { ?s ?p ?o } WHERE { ?s ?p ?o") << "Result not retrieved: returning empty channel"
                             << "Result not retrieved: returning empty channel uri";
}

void tst_FeedTrackerSparql::channelQueriesOfMissingChannel()
{
    QFETCH(QString, uri);
    QFETCH(QString, channelWords);
    QFETCH(QString, typeWords);
    const QString channelUri = addChannelNode(QStringLiteral("http://example.com/kept"), QStringLiteral("Kept"));
    if (QByteArray(QTest::currentDataTag()) == "message node")
        uri = addMessageNode(channelUri);
    QVERIFY(store()->channelForUri(uri).uri().isEmpty());
    QVERIFY(store()->channelType(uri).isEmpty());
    QVERIFY(countLogged(channelWords) >= 1);
    QVERIFY(countLogged(typeWords) >= 1);
    QCOMPARE(store()->allChannelUrls(), QStringList{channelUri});
}

void tst_FeedTrackerSparql::enclosuresStoredExactly_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("mime");
    QTest::addColumn<QString>("icon");
    QTest::newRow("plain") << "http://example.com/a.mp3" << "/home/u/a.mp3" << "audio/mpeg" << "icon";
    QTest::newRow("blanks") << "http://example.com/my podcast.mp3" << "/home/u/My Docs/a b.mp3" << "audio/mpeg" << "icon";
    QTest::newRow("quotes and brackets") << "http://example.com/a\"b'c>d<e{f}|g^h`i\\j" << "/x/\">.mp3"
                                         << "audio/\"mpeg\"" << "icon\" } ; DROP ALL";
    QTest::newRow("newlines") << "http://example.com/a\nb\r\tc" << "/x/a\nb" << "text/\nplain" << "i\nc";
    QTest::newRow("placeholders") << "http://example.com/%id/%image?x=%messageUri&y=?:remLink" << "/x/%locLink"
                                  << "%type" << "%image";
    QTest::newRow("escapes kept") << "http://example.com/a%20b%2Fc%41" << "/x/a%20b" << "a" << "b";
    QTest::newRow("non-ascii") << "http://example.com/Grüße/☃" << "/x/Grüße" << "audio/ü" << "☃";
    QTest::newRow("2 KB url") << "http://example.com/" + QString(2048, QLatin1Char('z')) << "/x/long" << "a" << "b";
}

void tst_FeedTrackerSparql::enclosuresStoredExactly()
{
    QFETCH(QString, remote);
    QFETCH(QString, local);
    QFETCH(QString, mime);
    QFETCH(QString, icon);
    const QString message = addMessageNode(addChannelNode(QStringLiteral("http://example.com/c"), QStringLiteral("C")));
    FeedEnclosure written = enclosure(remote, local);
    written.setMimeType(mime);
    written.setTypeIcon(icon);
    FeedEnclosure plain = enclosure(QStringLiteral("http://example.com/neighbour.mp3"));
    QVERIFY(store()->addEnclosures({written, plain}, message));

    const QList<FeedEnclosure> read = store()->enclosuresForMessage(message);
    QCOMPARE(read.size(), 2);
    const FeedEnclosure stored = read.at(0).remoteUrl() == remote ? read.at(0) : read.at(1);
    QCOMPARE(fields(stored), fields(written));
    QVERIFY(stored.uri().startsWith(Urn));
    QCOMPARE(fields(store()->enclosureForUri(stored.uri())), fields(written));
    QCOMPARE(store()->enclosureForUri(stored.uri()).uri(), stored.uri());
}

void tst_FeedTrackerSparql::knownRemoteLinkAddsOnlyParent()
{
    const QString channel = addChannelNode(QStringLiteral("http://example.com/c"), QStringLiteral("C"));
    const QString first = addMessageNode(channel);
    const QString second = addMessageNode(channel);
    const FeedEnclosure original = enclosure(QStringLiteral("http://example.com/shared file.mp3"));
    QVERIFY(store()->addEnclosures({original}, first));
    FeedEnclosure changed = original;
    changed.setLocalUrl(QStringLiteral("/elsewhere"));
    changed.setMimeType(QStringLiteral("video/ogg"));
    changed.setType(FeedEnclosure::Essential);
    changed.setLength(1);
    QVERIFY(store()->addEnclosures({changed}, second));

    const QList<FeedEnclosure> ofFirst = store()->enclosuresForMessage(first);
    const QList<FeedEnclosure> ofSecond = store()->enclosuresForMessage(second);
    QCOMPARE(ofFirst.size(), 1);
    QCOMPARE(ofSecond.size(), 1);
    QCOMPARE(ofSecond.at(0).uri(), ofFirst.at(0).uri());
    QCOMPARE(fields(ofSecond.at(0)), fields(original));
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).size(), 1);
}

// Two records on one file would let the deletion of one remove the other's file.
void tst_FeedTrackerSparql::sameNewRemoteLinkTwiceMakesOneNode()
{
    const QString message = addMessageNode(addChannelNode(QStringLiteral("http://example.com/c"), QStringLiteral("C")));
    const FeedEnclosure record = enclosure(QStringLiteral("http://example.com/twice.mp3"));
    QVERIFY(store()->addEnclosures({record, record}, message));
    QCOMPARE(store()->enclosuresForMessage(message).size(), 1);
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).size(), 1);
}

void tst_FeedTrackerSparql::unusableEnclosuresSkipped()
{
    const QString message = addMessageNode(addChannelNode(QStringLiteral("http://example.com/c"), QStringLiteral("C")));
    const FeedEnclosure noRemote = enclosure(QString());
    const FeedEnclosure noLocal = enclosure(QStringLiteral("http://example.com/nolocal"), QString());
    const FeedEnclosure good = enclosure(QStringLiteral("http://example.com/good"));
    QVERIFY(store()->addEnclosures({noRemote, noLocal, good}, message));
    QCOMPARE(countLogged(QStringLiteral("remoteLink empty for message ")), 1);
    const QList<FeedEnclosure> read = store()->enclosuresForMessage(message);
    QCOMPARE(read.size(), 1);
    QCOMPARE(read.at(0).remoteUrl(), good.remoteUrl());
    // Nothing left to write is a success without a store round trip.
    QVERIFY(store()->addEnclosures({}, message));
    QVERIFY(store()->addEnclosures({noRemote}, message));
    QVERIFY(!store()->addEnclosures({good}, QString()));
}

void tst_FeedTrackerSparql::updateEnclosure()
{
    const QString message = addMessageNode(addChannelNode(QStringLiteral("http://example.com/c"), QStringLiteral("C")));
    const FeedEnclosure original = enclosure(QStringLiteral("http://example.com/up date.mp3"));
    QVERIFY(store()->addEnclosures({original}, message));
    update(_raw.get(), QStringLiteral("DELETE { ?e mfo:image ?i } WHERE { ?e a mfo:Enclosure; mfo:image ?i }"));
    FeedEnclosure changed = original;
    changed.setMimeType(QStringLiteral("video/\"mp4\""));
    changed.setLength(99);
    changed.setTypeIcon(QStringLiteral("icon-video"));
    changed.setLocalUrl(QStringLiteral("/not/written"));
    changed.setGroupId(1);
    QVERIFY(store()->updateEnclosure(changed));
    const QList<FeedEnclosure> read = store()->enclosuresForMessage(message);
    QCOMPARE(read.size(), 1);
    FeedEnclosure expected = original;
    expected.setMimeType(changed.mimeType());
    expected.setLength(99);
    expected.setTypeIcon(changed.typeIcon());
    QCOMPARE(fields(read.at(0)), fields(expected));
}

void tst_FeedTrackerSparql::updateOfUnknownEnclosureWritesNothing()
{
    QVERIFY(!store()->updateEnclosure(enclosure(QString())));
    QCOMPARE(countLogged(QStringLiteral("mfo:remoteLink is empty")), 1);
    QVERIFY(!store()->updateEnclosure(enclosure(QStringLiteral("http://example.com/unknown"))));
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?s WHERE { ?s nie:mimeType ?m }")).isEmpty());
}

void tst_FeedTrackerSparql::enclosureQueriesOfMissingNodes()
{
    QVERIFY(store()->enclosureForUri(QString()).uri().isEmpty());
    QCOMPARE(countLogged(QStringLiteral("Empty uri: returning empty enclosure")), 1);
    QVERIFY(store()->enclosureForUri(QStringLiteral("urn:none")).uri().isEmpty());
    QCOMPARE(countLogged(QStringLiteral("Result not retrieved: returning empty enclosure")), 1);
    QVERIFY(store()->enclosuresForMessage(QStringLiteral("urn:none")).isEmpty());
    // Any enclosure node is returned, missing properties as their empty values.
    update(_raw.get(), QStringLiteral("INSERT { <urn:bare:enclosure> a mfo:Enclosure }"));
    const FeedEnclosure bare = store()->enclosureForUri(QStringLiteral("urn:bare:enclosure"));
    QCOMPARE(bare.uri(), QStringLiteral("urn:bare:enclosure"));
    QVERIFY(bare.remoteUrl().isEmpty());
    QCOMPARE(bare.type(), FeedEnclosure::Essential);
}

// A query text that the store cannot parse must fail here, not for a user: every operation
// runs on a populated store and no failure may be logged.
void tst_FeedTrackerSparql::everyQueryParses()
{
    const QString channel = addChannelNode(QStringLiteral("http://example.com/c"), QStringLiteral("C"));
    const QString message = addMessageNode(channel);
    QVERIFY(store()->addEnclosures({enclosure(QStringLiteral("http://example.com/e"))}, message));
    QVERIFY(store()->addEnclosures({enclosure(QStringLiteral("http://example.com/e"))}, channel));
    QCOMPARE(store()->allChannelUrls().size(), 1);
    QCOMPARE(store()->allChannels().size(), 1);
    QVERIFY(!store()->channelForUri(channel).uri().isEmpty());
    QVERIFY(!store()->channelType(channel).isEmpty());
    QCOMPARE(store()->enclosuresForMessage(message).size(), 1);
    QVERIFY(!store()->enclosureForUri(store()->enclosuresForMessage(message).at(0).uri()).uri().isEmpty());
    QVERIFY(store()->updateEnclosure(enclosure(QStringLiteral("http://example.com/e"))));
    const QStringList log = takeLog();
    QCOMPARE(log.filter(QStringLiteral("failed"), Qt::CaseInsensitive), QStringList());
}

void tst_FeedTrackerSparql::missingStoreService()
{
    const QByteArray service = qgetenv("VIRELON_STORE_SERVICE");
    FeedTrackerSparql::releaseInstance();
    qputenv("VIRELON_STORE_SERVICE", "com.vorlane.Virelon.Test.Absent");
    FeedTrackerSparql* absent = FeedTrackerSparql::instance();
    qputenv("VIRELON_STORE_SERVICE", service);
    QVERIFY(absent);
    QCOMPARE(countLogged(QStringLiteral("QTRACKER_DIRECT : Driver not found")), 1);
    QVERIFY(absent->allChannelUrls().isEmpty());
    QVERIFY(absent->allChannels().isEmpty());
    QVERIFY(absent->channelForUri(QStringLiteral("urn:x")).uri().isEmpty());
    QVERIFY(absent->channelType(QStringLiteral("urn:x")).isEmpty());
    QVERIFY(!absent->addEnclosures({enclosure(QStringLiteral("http://example.com/e"))}, QStringLiteral("urn:x")));
    QVERIFY(absent->enclosuresForMessage(QStringLiteral("urn:x")).isEmpty());
    QVERIFY(absent->enclosureForUri(QStringLiteral("urn:x")).uri().isEmpty());
    QVERIFY(!absent->updateEnclosure(enclosure(QStringLiteral("http://example.com/e"))));
    FeedTrackerSparql::releaseInstance();
}

VIRELON_TEST_MAIN(tst_FeedTrackerSparql)
#include "tst_feedtrackersparql.moc"
