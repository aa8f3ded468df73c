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

// Receives the store's announcement the way the daemon's cache manager does: a string-based
// connection, in the same thread, so the slot runs inside the emission.
class DeletionListener : public QObject
{
    Q_OBJECT

public:
    explicit DeletionListener(FeedTrackerSparql* store) : _store(store)
    {
        connect(store, SIGNAL(enclosuresToBeDeleted(QList<FeedEnclosure>&)), this,
                SLOT(handleEnclosureDeletion(QList<FeedEnclosure>&)));
    }

    QList<QList<FeedEnclosure>> announcements;
    // Records that the store still held while they were announced.
    int stillStored = 0;

public slots:
    void handleEnclosureDeletion(QList<FeedEnclosure>& enclosureList)
    {
        announcements.append(enclosureList);
        for (const FeedEnclosure& enclosure : enclosureList)
            stillStored += !_store->enclosureForUri(enclosure.uri()).uri().isEmpty();
    }

private:
    FeedTrackerSparql* _store;
};

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

    void channelWritesReadBack();
    void addChannelRefusesKnownLink_data();
    void addChannelRefusesKnownLink();
    void subscriptionWithLinkAndTypeOnly();
    void writesOfMissingChannel();
    void editChannelStopsAtFirstFailure();
    void editLinkOfChannelWithoutLinkNode();
    void editChannelBadTime();

    void messagesStoredExactly_data();
    void messagesStoredExactly();
    void knownMessageGainsChannel();
    void sameLinkTwiceInOneCall();
    void badMessageCostsOnlyItself();
    void addMessagesWithoutChannel();
    void addMessageQueryStoresEnclosures();
    void deletableMessages();
    void messageQueriesOfEmptyChannel();
    void latestPublishedTime();

    void deleteChannelLeavesNothingBehind();
    void iconFileKeptWhileAnotherChannelShowsIt();
    void deleteMessageOfSharedAndLinklessMessages();
    void feedLinkNodeSurvivesMessageDeletion();
    void enclosureHeldByChannelStays();
    void enclosureDeletionEdgeCases();
    void orphansOfHalfFinishedWork();
    void deleteAllChannels();

    void everyQueryParses();
    void missingStoreService();

private:
    FeedTrackerSparql* store() { return FeedTrackerSparql::instance(); }
    QString addChannelNode(const QString& link, const QString& title);
    QString addMessageNode(const QString& channelUri);
    QString subscribe(const QString& link, const QString& title = QString());
    QString file(const QString& name);
    FeedMessage post(const QString& link, const QList<FeedEnclosure>& enclosures = {});
    bool nodeGone(const QString& iri);
    QString messageUri(const QString& channelUri, const QString& link);
    QString addDatedMessage(const QString& channelUri, const QString& published, const QString& downloaded,
                            bool favourite = false);

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

QString tst_FeedTrackerSparql::subscribe(const QString& link, const QString& title)
{
    FeedChannel channel;
    channel.setLink(link);
    channel.setTitle(title);
    channel.setType(QStringLiteral("tamsil"));
    return store()->addChannel(channel);
}

QString tst_FeedTrackerSparql::addDatedMessage(const QString& channelUri, const QString& published,
                                               const QString& downloaded, bool favourite)
{
    const QString uri = _raw->createUrn().toString();
    QString text = QStringLiteral("INSERT { <%1> a mfo:FeedMessage; nie:isLogicalPartOf <%2>; nie:title 't'; nie:description 'd'; nie:subject 's'; nie:links "
                                  "<http://example.com/%3>; mfo:downloadedTime '%4'^^xsd:dateTime ")
                       .arg(uri, channelUri, uri.mid(9), downloaded);
    if (!published.isEmpty())
        text += QStringLiteral("; nie:contentCreated '%1'^^xsd:dateTime ").arg(published);
    if (favourite)
        text += QStringLiteral("; nao:hasTag nao:predefined-tag-favorite ");
    update(_raw.get(), text + QStringLiteral("}"));
    return uri;
}

QString tst_FeedTrackerSparql::file(const QString& name)
{
    const QString path = _dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("x");
    return path;
}

FeedMessage tst_FeedTrackerSparql::post(const QString& link, const QList<FeedEnclosure>& enclosures)
{
    FeedMessage message;
    message.setTitle(link);
    message.setLink(link);
    message.setEnclosures(enclosures);
    return message;
}

// Neither a triple of its own nor one that points at it.
bool tst_FeedTrackerSparql::nodeGone(const QString& iri)
{
    return select(_raw.get(), QStringLiteral("SELECT ?p WHERE { { <%1> ?p ?o } UNION { ?s ?p <%1> } }").arg(iri)).isEmpty();
}

QString tst_FeedTrackerSparql::messageUri(const QString& channelUri, const QString& link)
{
    const QList<QVariantList> rows = select(
        _raw.get(), QStringLiteral("SELECT ?m WHERE { ?m nie:isLogicalPartOf <%1>; nie:links <%2> }").arg(channelUri, link));
    return rows.isEmpty() ? QString() : rows.at(0).at(0).toString();
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

void tst_FeedTrackerSparql::channelWritesReadBack()
{
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://example.com/feed"));
    channel.setTitle(QStringLiteral("Ti\"tle"));
    channel.setType(QStringLiteral("tamsil"));
    channel.setDescription(QStringLiteral("never stored"));
    FeedEnclosure icon = enclosure(QStringLiteral("http://example.com/icon.png"), QStringLiteral("/icons/icon one.png"));
    channel.setIcon(icon);
    const QString uri = store()->addChannel(channel);
    QVERIFY(uri.startsWith(Urn));
    QCOMPARE(countLogged(QStringLiteral("Channel Uri: ")), 1);

    FeedChannel read = store()->channelForUri(uri);
    QCOMPARE(read.title(), channel.title());
    QCOMPARE(read.link(), channel.link());
    QCOMPARE(read.type(), QStringLiteral("tamsil"));
    QVERIFY(read.lastModifiedTime().isEmpty());
    QVERIFY(!read.updatedTime().isValid());
    const QDateTime subscribed = read.subscribedTime();
    QVERIFY(subscribed >= before && subscribed <= QDateTime::currentDateTime());
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?i WHERE { <%1> mfo:image ?i }").arg(uri)),
             QList<QVariantList>{{icon.localUrl()}});
    const QList<FeedEnclosure> icons = store()->enclosuresForMessage(uri);
    QCOMPARE(icons.size(), 1);
    QCOMPARE(fields(icons.at(0)), fields(icon));

    channel.setUri(uri);
    channel.setTitle(QStringLiteral("New title"));
    channel.setLastModifiedTime(QStringLiteral("Tue, 07 May 2024 10:00:00 GMT"));
    QVERIFY(store()->updateChannel(channel));
    read = store()->channelForUri(uri);
    QCOMPARE(read.title(), QStringLiteral("New title"));
    QCOMPARE(read.lastModifiedTime(), channel.lastModifiedTime());
    QVERIFY(read.updatedTime() >= before && read.updatedTime() <= QDateTime::currentDateTime());
    QCOMPARE(store()->enclosuresForMessage(uri).size(), 1);

    QVariantMap edit;
    edit.insert(FeedTrackerSparql::LinkKey, QStringLiteral("http://example.com/moved feed"));
    edit.insert(FeedTrackerSparql::TitleKey, QStringLiteral("Edited"));
    edit.insert(FeedTrackerSparql::LastModifiedTimeKey, QStringLiteral("2024-01-02T03:04:05"));
    edit.insert(QStringLiteral("4"), QStringLiteral("ignored"));
    QVERIFY(store()->editChannel(uri, edit));
    read = store()->channelForUri(uri);
    QCOMPARE(read.link(), QStringLiteral("http://example.com/moved%20feed"));
    QCOMPARE(read.title(), QStringLiteral("Edited"));
    QCOMPARE(read.updatedTime(), QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::LocalTime));
    QCOMPARE(read.subscribedTime(), subscribed);
    // The old link node is gone.
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?c WHERE { <http://example.com/feed> nie:created ?c }")).isEmpty());
    QVERIFY(store()->editChannel(uri, {{QStringLiteral("9"), 1}}));
}

void tst_FeedTrackerSparql::addChannelRefusesKnownLink_data()
{
    QTest::addColumn<QString>("second");
    QTest::newRow("same text") << "http://example.com/feed";
    QTest::newRow("without scheme") << "example.com/feed";
    QTest::newRow("other case of host") << "http://Example.COM/feed";
}

void tst_FeedTrackerSparql::addChannelRefusesKnownLink()
{
    QFETCH(QString, second);
    const QString first = subscribe(QStringLiteral("http://example.com/feed"), QStringLiteral("First"));
    QVERIFY(!first.isEmpty());
    QVERIFY(subscribe(second).isEmpty());
    QCOMPARE(countLogged(QStringLiteral("Channel exists")), 1);
    QCOMPARE(store()->allChannelUrls(), QStringList{first});
    QCOMPARE(store()->channelForUri(first).title(), QStringLiteral("First"));
}

void tst_FeedTrackerSparql::subscriptionWithLinkAndTypeOnly()
{
    const QString uri = subscribe(QStringLiteral("example.org/rss"));
    QVERIFY(!uri.isEmpty());
    const FeedChannel read = store()->channelForUri(uri);
    QCOMPARE(read.link(), QStringLiteral("http://example.org/rss"));
    QVERIFY(read.title().isEmpty());
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?i WHERE { <%1> mfo:image ?i }").arg(uri)),
             QList<QVariantList>{{QString()}});
    QVERIFY(store()->enclosuresForMessage(uri).isEmpty());
    QVERIFY(subscribe(QString()).isEmpty());
}

void tst_FeedTrackerSparql::writesOfMissingChannel()
{
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:uuid:missing"));
    channel.setTitle(QStringLiteral("T"));
    QVERIFY(!store()->updateChannel(channel));
    QCOMPARE(countLogged(QStringLiteral("Channel not found, unable to update")), 1);
    channel.setUri(QString());
    QVERIFY(!store()->updateChannel(channel));
    QVERIFY(!store()->editChannel(QStringLiteral("urn:uuid:missing"), {{FeedTrackerSparql::TitleKey, QStringLiteral("x")}}));
    QCOMPARE(countLogged(QStringLiteral("Channel not found")), 2);
    QVERIFY(!store()->editChannel(QStringLiteral("urn:uuid:missing"), QVariantMap()));
    QCOMPARE(countLogged(QStringLiteral("No Properties to Update")), 1);
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?s WHERE { ?s nie:title ?t }")).isEmpty());
}

void tst_FeedTrackerSparql::editChannelStopsAtFirstFailure()
{
    const QString first = subscribe(QStringLiteral("http://example.com/one"), QStringLiteral("One"));
    const QString second = subscribe(QStringLiteral("http://example.com/two"), QStringLiteral("Two"));
    QVariantMap edit{{FeedTrackerSparql::LinkKey, QStringLiteral("http://example.com/one")},
                     {FeedTrackerSparql::TitleKey, QStringLiteral("Changed")}};
    QVERIFY(!store()->editChannel(second, edit));
    QCOMPARE(countLogged(QStringLiteral("Query Execution Failed - link Query")), 1);
    const FeedChannel read = store()->channelForUri(second);
    QCOMPARE(read.title(), QStringLiteral("Two"));
    QCOMPARE(read.link(), QStringLiteral("http://example.com/two"));
    QVERIFY(read.subscribedTime().isValid());
    QCOMPARE(store()->channelForUri(first).link(), QStringLiteral("http://example.com/one"));
    QVERIFY(!store()->editChannel(second, {{FeedTrackerSparql::LinkKey, QString()}}));
    QCOMPARE(store()->channelForUri(second).link(), QStringLiteral("http://example.com/two"));
}

// A missing old node must not be bound as "<>".
void tst_FeedTrackerSparql::editLinkOfChannelWithoutLinkNode()
{
    update(_raw.get(), QStringLiteral("INSERT { <urn:uuid:nolink> a mfo:FeedChannel; nie:title 'No link' }"));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(store()->editChannel(QStringLiteral("urn:uuid:nolink"),
                                 {{FeedTrackerSparql::LinkKey, QStringLiteral("http://example.com/new")}}));
    const FeedChannel read = store()->channelForUri(QStringLiteral("urn:uuid:nolink"));
    QCOMPARE(read.link(), QStringLiteral("http://example.com/new"));
    QVERIFY(read.subscribedTime() >= before);
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?b WHERE { ?b a rdfs:Resource . FILTER(isBlank(?b)) }")).size(), 0);
}

void tst_FeedTrackerSparql::editChannelBadTime()
{
    const QString uri = subscribe(QStringLiteral("http://example.com/t"));
    QVERIFY(!store()->editChannel(uri, {{FeedTrackerSparql::LastModifiedTimeKey, QStringLiteral("not a time")}}));
    QCOMPARE(countLogged(QStringLiteral("Updation of Last Modified time failed")), 1);
    QVERIFY(!store()->channelForUri(uri).updatedTime().isValid());
}

void tst_FeedTrackerSparql::messagesStoredExactly_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QDateTime>("published");
    const QDateTime date(QDate(2023, 12, 24), QTime(18, 0, 0), Qt::OffsetFromUTC, -5 * 3600);
    QTest::newRow("plain") << "Title" << "http://example.com/post/1" << date;
    QTest::newRow("quotes") << "\"Q\" 'q' \\ \"\"\"" << "http://example.com/a\"b'c" << date;
    QTest::newRow("angle bracket link") << "<b>bold</b>" << "http://example.com/a>b<c" << date;
    QTest::newRow("blanks and newlines") << "line\nline\r\tend" << "http://example.com/a b\nc" << date;
    QTest::newRow("placeholders") << "%2 %3 %4 %5 %6 %7 ?:link ?_x" << "http://example.com/%5?%7=?:link" << date;
    QTest::newRow("escapes in link") << "t" << "http://example.com/a%20b%41%2F" << date;
    QTest::newRow("not a url") << "t" << "a b c" << date;
    QTest::newRow("blank in host") << "t" << "http://exa mple.com/" << date;
    QTest::newRow("no link") << "t" << "" << date;
    QTest::newRow("invalid date") << "t" << "http://example.com/nodate" << QDateTime();
    QTest::newRow("year beyond 9999") << "t" << "http://example.com/far" << QDateTime(QDate(12000, 1, 1), QTime(0, 0), Qt::UTC);
}

void tst_FeedTrackerSparql::messagesStoredExactly()
{
    QFETCH(QString, title);
    QFETCH(QString, link);
    QFETCH(QDateTime, published);
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    FeedMessage message;
    message.setTitle(title);
    message.setLink(link);
    message.setDescription(QStringLiteral("<p class=\"x\">") + QString(100000, QLatin1Char('d')) + title);
    message.setSummary(QStringLiteral("summary ") + title);
    message.setPublishedDate(published);
    FeedMessage neighbour;
    neighbour.setTitle(QStringLiteral("neighbour"));
    neighbour.setLink(QStringLiteral("http://example.com/neighbour"));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(store()->addMessages({message, neighbour}, channel));
    QCOMPARE(takeLog().filter(QStringLiteral("failed"), Qt::CaseInsensitive), QStringList());

    QStringList links = store()->messageLinksOfChannel(channel);
    QCOMPARE(links.size(), 2);
    QVERIFY(links.contains(link));
    QCOMPARE(store()->allMessageUrls(channel).size(), 2);
    QList<FeedMessage> read = store()->messagesForChannel(channel);
    if (link.isEmpty()) {
        QCOMPARE(read.size(), 1); // the listing needs a link
        return;
    }
    QCOMPARE(read.size(), 2);
    const FeedMessage stored = read.at(0).link() == link ? read.at(0) : read.at(1);
    QCOMPARE(stored.title(), message.title());
    QCOMPARE(stored.description(), message.description());
    QCOMPARE(stored.summary(), message.summary());
    QCOMPARE(stored.link(), link);
    QCOMPARE(stored.publishedDate(), published.isValid() && published.date().year() < 10000 ? published : QDateTime());
    QVERIFY(stored.downloadedTime() >= before && stored.downloadedTime() <= QDateTime::currentDateTime());
    QVERIFY(!stored.isFavorite());
    // Stored once, found again: a second fetch adds no node.
    QVERIFY(store()->addMessages({message}, channel));
    QCOMPARE(store()->allMessageUrls(channel).size(), 2);
}

void tst_FeedTrackerSparql::knownMessageGainsChannel()
{
    const QString first = subscribe(QStringLiteral("http://example.com/one"));
    const QString second = subscribe(QStringLiteral("http://example.com/two"));
    FeedMessage message;
    message.setTitle(QStringLiteral("Shared"));
    message.setLink(QStringLiteral("http://example.com/shared post"));
    const FeedEnclosure kept = enclosure(QStringLiteral("http://example.com/kept.mp3"));
    message.setEnclosures({kept});
    QVERIFY(store()->addMessages({message}, first));
    FeedEnclosure changedKept = kept;
    changedKept.setMimeType(QStringLiteral("changed/type"));
    const FeedEnclosure added = enclosure(QStringLiteral("http://example.com/added.mp3"), QStringLiteral("/x/added"));
    message.setEnclosures({changedKept, added});
    message.setTitle(QStringLiteral("Not rewritten"));
    QVERIFY(store()->addMessages({message}, second));

    const QStringList ofFirst = store()->allMessageUrls(first);
    QCOMPARE(ofFirst.size(), 1);
    QCOMPARE(store()->allMessageUrls(second), ofFirst);
    QCOMPARE(store()->messagesForChannel(second).at(0).title(), QStringLiteral("Shared"));
    QList<FeedEnclosure> enclosures = store()->enclosuresForMessage(ofFirst.at(0));
    QCOMPARE(enclosures.size(), 2);
    const FeedEnclosure storedKept = enclosures.at(0).remoteUrl() == kept.remoteUrl() ? enclosures.at(0) : enclosures.at(1);
    QCOMPARE(fields(storedKept), fields(kept));
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).size(), 2);
}

void tst_FeedTrackerSparql::sameLinkTwiceInOneCall()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    FeedMessage message;
    message.setTitle(QStringLiteral("Twice"));
    message.setLink(QStringLiteral("http://example.com/twice"));
    message.setEnclosures({enclosure(QStringLiteral("http://example.com/one-file"))});
    QVERIFY(store()->addMessages({message, message}, channel));
    QCOMPARE(store()->allMessageUrls(channel).size(), 2);
    // Both messages share one enclosure node.
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).size(), 1);
    QVERIFY(store()->addMessages({}, channel));
}

// A message the store refuses is left out; the others of the batch are stored.
void tst_FeedTrackerSparql::badMessageCostsOnlyItself()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    QList<FeedMessage> messages;
    for (int i = 0; i < 3; ++i) {
        FeedMessage message;
        message.setTitle(i == 1 ? QStringLiteral("bad") + QChar(0) : QStringLiteral("good"));
        message.setLink(QStringLiteral("http://example.com/%1").arg(i));
        message.setEnclosures({enclosure(QStringLiteral("http://example.com/file%1").arg(i))});
        messages.append(message);
    }
    QVERIFY(!store()->addMessages(messages, channel));
    QCOMPARE(countLogged(QStringLiteral("Failed: ")), 1);
    QCOMPARE(countLogged(QStringLiteral("Message not stored:")), 1);
    QStringList links = store()->messageLinksOfChannel(channel);
    links.sort();
    QCOMPARE(links, (QStringList{QStringLiteral("http://example.com/0"), QStringLiteral("http://example.com/2")}));
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).size(), 2);
}

void tst_FeedTrackerSparql::addMessagesWithoutChannel()
{
    FeedMessage message;
    message.setLink(QStringLiteral("http://example.com/x"));
    QVERIFY(!store()->addMessages({message}, QString()));
    QCOMPARE(countLogged(QStringLiteral("ChannelUri empty, not able to add messages")), 1);
    QVERIFY(store()->addMessageQuery(message, QString()).isEmpty());
    QCOMPARE(countLogged(QStringLiteral("Invalied input, cannot proceed")), 1);
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?m WHERE { ?m a mfo:FeedMessage }")).isEmpty());
}

void tst_FeedTrackerSparql::addMessageQueryStoresEnclosures()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    FeedMessage message;
    message.setTitle(QStringLiteral("%5"));
    message.setLink(QStringLiteral("http://example.com/q"));
    message.setEnclosures({enclosure(QStringLiteral("http://example.com/q.mp3"))});
    const QString text = store()->addMessageQuery(message, channel);
    QVERIFY(text.startsWith(QStringLiteral("INSERT { <urn:uuid:")));
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).size(), 1);
    QVERIFY(update(_raw.get(), text));
    QCOMPARE(store()->messagesForChannel(channel).at(0).title(), QStringLiteral("%5"));
    QVERIFY(update(_raw.get(), createAssociation(message, QStringLiteral("urn:uuid:other"))));
    QCOMPARE(store()->allMessageUrls(QStringLiteral("urn:uuid:other")).size(), 1);
}

void tst_FeedTrackerSparql::deletableMessages()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    const QString undated1 = addDatedMessage(channel, QString(), QStringLiteral("2024-01-01T00:00:03Z"));
    const QString dated1 = addDatedMessage(channel, QStringLiteral("2020-01-01T00:00:00Z"), QStringLiteral("2024-01-01T00:00:00Z"));
    const QString undated2 = addDatedMessage(channel, QString(), QStringLiteral("2024-01-01T00:00:01Z"));
    const QString dated2 = addDatedMessage(channel, QStringLiteral("2019-01-01T00:00:00Z"), QStringLiteral("2024-01-01T00:00:05Z"));
    const QString undated3 = addDatedMessage(channel, QString(), QStringLiteral("2024-01-01T00:00:02Z"));
    addDatedMessage(channel, QStringLiteral("2000-01-01T00:00:00Z"), QStringLiteral("2023-01-01T00:00:00Z"), true);
    update(_raw.get(), QStringLiteral("INSERT { <urn:uuid:notime> a mfo:FeedMessage; nie:isLogicalPartOf <%1> }").arg(channel));

    QCOMPARE(store()->deletableMessageCount(channel), 6);
    QCOMPARE(store()->deletableMessages(channel, 4), (QStringList{undated2, undated3, undated1, dated2}));
    QCOMPARE(store()->deletableMessages(channel, 10), (QStringList{undated2, undated3, undated1, dated2, dated1}));
    QCOMPARE(store()->allMessageUrls(channel).size(), 7);
    QCOMPARE(store()->messagesForChannel(channel).size(), 6);
    int favourites = 0;
    for (const FeedMessage& message : store()->messagesForChannel(channel))
        favourites += message.isFavorite();
    QCOMPARE(favourites, 1);
    QVERIFY(store()->deletableMessages(channel, 0).isEmpty());
    takeLog();
    QVERIFY(store()->deletableMessages(channel, -1).isEmpty());
    QCOMPARE(takeLog().filter(QStringLiteral("failed"), Qt::CaseInsensitive), QStringList());
}

void tst_FeedTrackerSparql::messageQueriesOfEmptyChannel()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    takeLog();
    QVERIFY(store()->messagesForChannel(channel).isEmpty());
    QVERIFY(store()->allMessageUrls(channel).isEmpty());
    QVERIFY(store()->messageLinksOfChannel(channel).isEmpty());
    QVERIFY(store()->deletableMessages(channel, 3).isEmpty());
    QCOMPARE(store()->deletableMessageCount(channel), 0);
    QVERIFY(!store()->latestPostPublishedTime(channel).isValid());
    QCOMPARE(takeLog().size(), 1); // the count
    QVERIFY(store()->messagesForChannel(QString()).isEmpty());
    QCOMPARE(store()->deletableMessageCount(QString()), 0);
}

void tst_FeedTrackerSparql::latestPublishedTime()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    addDatedMessage(channel, QString(), QStringLiteral("2024-01-01T00:00:00Z"));
    QVERIFY(!store()->latestPostPublishedTime(channel).isValid());
    addDatedMessage(channel, QStringLiteral("2021-06-01T12:00:00+02:00"), QStringLiteral("2024-01-01T00:00:00Z"));
    addDatedMessage(channel, QStringLiteral("2020-06-01T12:00:00Z"), QStringLiteral("2024-01-01T00:00:00Z"));
    QCOMPARE(store()->latestPostPublishedTime(channel), QDateTime(QDate(2021, 6, 1), QTime(10, 0), Qt::UTC));
}

void tst_FeedTrackerSparql::deleteChannelLeavesNothingBehind()
{
    DeletionListener listener(store());
    FeedChannel a;
    a.setLink(QStringLiteral("http://example.com/a"));
    const QString iconPath = file(QStringLiteral("icon a.png"));
    a.setIcon(enclosure(QStringLiteral("http://example.com/icon-a.png"), iconPath));
    const QString channelA = store()->addChannel(a);
    const QString channelB = subscribe(QStringLiteral("http://example.com/b"));
    const FeedEnclosure own = enclosure(QStringLiteral("http://example.com/own.mp3"), file(QStringLiteral("own.mp3")));
    const FeedEnclosure shared = enclosure(QStringLiteral("http://example.com/shared.mp3"), QStringLiteral("/x/shared.mp3"));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m1"), {own, shared}),
                                  post(QStringLiteral("http://example.com/m2"))}, channelA));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m2")),
                                  post(QStringLiteral("http://example.com/m3"), {shared})}, channelB));
    const QString m1 = messageUri(channelA, QStringLiteral("http://example.com/m1"));
    const QString m2 = messageUri(channelB, QStringLiteral("http://example.com/m2"));
    const QString ownUri = store()->enclosuresForMessage(m1).at(0).remoteUrl() == own.remoteUrl()
        ? store()->enclosuresForMessage(m1).at(0).uri() : store()->enclosuresForMessage(m1).at(1).uri();

    store()->deleteChannel(channelA);
    QCOMPARE(store()->allChannelUrls(), QStringList{channelB});
    QVERIFY(nodeGone(QStringLiteral("http://example.com/a")));
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?p WHERE { <%1> ?p ?o }").arg(channelA)).isEmpty());
    // The shared enclosure still names the deleted message; no one else does.
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?p WHERE { <%1> ?p ?o }").arg(m1)).isEmpty());
    QVERIFY(nodeGone(QStringLiteral("http://example.com/m1")));
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?p WHERE { <%1> ?p ?o }").arg(ownUri)).isEmpty());
    QCOMPARE(listener.announcements.size(), 1);
    QCOMPARE(listener.announcements.at(0).size(), 1);
    QCOMPARE(listener.announcements.at(0).at(0).uri(), ownUri);
    QCOMPARE(listener.announcements.at(0).at(0).remoteUrl(), own.remoteUrl());
    QCOMPARE(listener.announcements.at(0).at(0).localUrl(), own.localUrl());
    QCOMPARE(listener.announcements.at(0).at(0).mimeType(), QString());
    QCOMPARE(listener.stillStored, 0);
    // Shared parts survive with their other parent.
    QCOMPARE(store()->allMessageUrls(channelB).size(), 2);
    QVERIFY(store()->allMessageUrls(channelB).contains(m2));
    QCOMPARE(store()->enclosuresForMessage(messageUri(channelB, QStringLiteral("http://example.com/m3"))).size(), 1);
    QVERIFY(store()->channelForUri(channelB).subscribedTime().isValid());
    // The icon file goes with its last channel; its record waits for the orphan clean-up.
    QVERIFY(!QFile::exists(iconPath));
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).size(), 2);
    store()->deleteOrphans();
    QCOMPARE(listener.announcements.size(), 2);
    QCOMPARE(listener.announcements.at(1).size(), 1);
    QCOMPARE(listener.announcements.at(1).at(0).localUrl(), iconPath);
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).size(), 1);
    QVERIFY(nodeGone(QStringLiteral("http://example.com/icon-a.png")));
    store()->deleteOrphans();
    QCOMPARE(listener.announcements.size(), 2);
}

void tst_FeedTrackerSparql::iconFileKeptWhileAnotherChannelShowsIt()
{
    const QString iconPath = file(QStringLiteral("shared icon.png"));
    FeedChannel channel;
    channel.setIcon(enclosure(QStringLiteral("http://example.com/icon.png"), iconPath));
    channel.setLink(QStringLiteral("http://example.com/one"));
    const QString first = store()->addChannel(channel);
    channel.setLink(QStringLiteral("http://example.com/two"));
    const QString second = store()->addChannel(channel);
    store()->deleteChannel(first);
    QVERIFY(QFile::exists(iconPath));
    store()->deleteChannel(second);
    QVERIFY(!QFile::exists(iconPath));
    store()->deleteChannel(second);
    QCOMPARE(countLogged(QStringLiteral("Channel not found for given channelUri")), 1);
    store()->deleteChannel(QString());
    QCOMPARE(countLogged(QStringLiteral("channelUri empty")), 1);

    const QString third = store()->addChannel(channel);
    const QString kept = file(QStringLiteral("kept.png"));
    FeedChannel other;
    other.setLink(QStringLiteral("http://example.com/other"));
    other.setIcon(enclosure(QStringLiteral("http://example.com/other.png"), kept));
    store()->addChannel(other);
    file(QStringLiteral("shared icon.png"));
    store()->deleteChannelImage(third);
    QVERIFY(!QFile::exists(iconPath));
    QVERIFY(QFile::exists(kept));
}

// The cache trims the oldest messages first, among them linkless ones and ones that another
// channel shares; refusing them would let the channel grow at every fetch.
void tst_FeedTrackerSparql::deleteMessageOfSharedAndLinklessMessages()
{
    DeletionListener listener(store());
    const QString a = subscribe(QStringLiteral("http://example.com/a"));
    const QString b = subscribe(QStringLiteral("http://example.com/b"));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/shared"),
                                       {enclosure(QStringLiteral("http://example.com/s.mp3"))})}, a));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/shared"))}, b));
    const QString shared = messageUri(a, QStringLiteral("http://example.com/shared"));
    store()->deleteMessage(shared, a);
    QVERIFY(store()->allMessageUrls(a).isEmpty());
    QCOMPARE(store()->allMessageUrls(b), QStringList{shared});
    QCOMPARE(store()->enclosuresForMessage(shared).size(), 1);
    QVERIFY(listener.announcements.isEmpty());

    FeedMessage linkless = post(QString(), {enclosure(QStringLiteral("http://example.com/l.mp3"))});
    linkless.setTitle(QStringLiteral("No link"));
    QVERIFY(store()->addMessages({linkless}, a));
    const QStringList ofA = store()->allMessageUrls(a);
    QCOMPARE(ofA.size(), 1);
    QCOMPARE(store()->deletableMessages(a, 1), ofA);
    store()->deleteMessage(ofA.at(0), a);
    QVERIFY(store()->allMessageUrls(a).isEmpty());
    QVERIFY(nodeGone(ofA.at(0)));
    QCOMPARE(listener.announcements.size(), 1);
    QCOMPARE(listener.announcements.at(0).at(0).remoteUrl(), QStringLiteral("http://example.com/l.mp3"));

    store()->deleteMessage(QStringLiteral("urn:uuid:none"), a);
    QCOMPARE(countLogged(QStringLiteral("Message not found")), 1);
    store()->deleteMessage(shared, b);
    QVERIFY(nodeGone(shared));
}

void tst_FeedTrackerSparql::feedLinkNodeSurvivesMessageDeletion()
{
    const QString feed = subscribe(QStringLiteral("http://example.com/feed"));
    const QDateTime subscribed = store()->channelForUri(feed).subscribedTime();
    QVERIFY(subscribed.isValid());
    const QString other = subscribe(QStringLiteral("http://example.com/other"));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/feed"))}, other));
    store()->deleteMessage(messageUri(other, QStringLiteral("http://example.com/feed")), other);
    QVERIFY(store()->allMessageUrls(other).isEmpty());
    QCOMPARE(store()->channelForUri(feed).subscribedTime(), subscribed);

    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/feed"))}, other));
    update(_raw.get(), QStringLiteral("DELETE { ?m nie:isLogicalPartOf <%1> } WHERE { ?m nie:isLogicalPartOf <%1> }").arg(other));
    store()->deleteOrphans();
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?m WHERE { ?m a mfo:FeedMessage }")).isEmpty());
    QCOMPARE(store()->channelForUri(feed).subscribedTime(), subscribed);
    QCOMPARE(store()->channelForUri(feed).link(), QStringLiteral("http://example.com/feed"));
}

// A channel icon that is also an image of a message is still shown by the channel.
void tst_FeedTrackerSparql::enclosureHeldByChannelStays()
{
    DeletionListener listener(store());
    const FeedEnclosure icon = enclosure(QStringLiteral("http://example.com/logo.png"), QStringLiteral("/x/logo.png"));
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://example.com/feed"));
    channel.setIcon(icon);
    const QString uri = store()->addChannel(channel);
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m"), {icon})}, uri));
    const QString message = messageUri(uri, QStringLiteral("http://example.com/m"));
    store()->deleteEnclosures(message);
    QCOMPARE(countLogged(QStringLiteral("No enclosures found")), 1);
    store()->deleteMessage(message, uri);
    QVERIFY(listener.announcements.isEmpty());
    QCOMPARE(store()->enclosuresForMessage(uri).size(), 1);
}

void tst_FeedTrackerSparql::enclosureDeletionEdgeCases()
{
    DeletionListener listener(store());
    store()->deleteEnclosures(QList<QUrl>());
    QCOMPARE(countLogged(QStringLiteral("Nothing to delete")), 1);
    store()->deleteEnclosures(QString());
    QCOMPARE(countLogged(QStringLiteral("messageUri empty")), 1);
    store()->deleteEnclosures(QList<QUrl>{QUrl(QStringLiteral("urn:uuid:none"))});
    QCOMPARE(countLogged(QStringLiteral("No enclosures found")), 1);

    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    const QString local = file(QStringLiteral("kept.mp3"));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m"),
                                       {enclosure(QStringLiteral("http://example.com/1.mp3"), local),
                                        enclosure(QStringLiteral("http://example.com/2 two.mp3"), QStringLiteral("/x/2 two"))})},
                                 channel));
    const QList<FeedEnclosure> stored = store()->enclosuresForMessage(messageUri(channel, QStringLiteral("http://example.com/m")));
    QCOMPARE(stored.size(), 2);
    const QUrl first(stored.at(0).uri());
    store()->deleteEnclosures(QList<QUrl>{first, QUrl(QStringLiteral("urn:uuid:none")), first});
    QCOMPARE(listener.announcements.size(), 1);
    QCOMPARE(listener.announcements.at(0).size(), 2);
    QCOMPARE(listener.announcements.at(0).at(1).uri(), stored.at(0).uri());
    QCOMPARE(listener.announcements.at(0).at(0).localUrl(), stored.at(0).localUrl());
    QCOMPARE(listener.stillStored, 0);

    store()->deleteEnclosure(stored.at(1).uri());
    QVERIFY(store()->enclosureForUri(stored.at(1).uri()).uri().isEmpty());
    QCOMPARE(listener.announcements.size(), 1);
    QVERIFY(QFile::exists(local));
    store()->deleteEnclosure(QStringLiteral("urn:x> } DELETE { ?s ?p ?o } WHERE { ?s ?p ?o"));
    store()->deleteEnclosure(QString());
    QCOMPARE(store()->allChannelUrls(), QStringList{channel});
}

// Orphans left by work cut short: messages of a channel deleted without its messages, and
// enclosures written before their message insert failed.
void tst_FeedTrackerSparql::orphansOfHalfFinishedWork()
{
    DeletionListener listener(store());
    store()->deleteOrphans();
    QCOMPARE(countLogged(QStringLiteral("deleted orphan messages")), 1);
    QCOMPARE(countLogged(QStringLiteral("No orphan nodes present")), 1);
    QVERIFY(listener.announcements.isEmpty());

    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m"),
                                       {enclosure(QStringLiteral("http://example.com/m.mp3"), QStringLiteral("/x/m.mp3"))})},
                                 channel));
    QVERIFY(store()->addEnclosures({enclosure(QStringLiteral("http://example.com/lost.mp3"), QStringLiteral("/x/lost"))},
                                   QStringLiteral("urn:uuid:never-inserted")));
    update(_raw.get(), QStringLiteral("INSERT { <urn:uuid:linkless> a mfo:FeedMessage }"));
    update(_raw.get(), QStringLiteral("DELETE { <%1> a rdfs:Resource } WHERE { <%1> a mfo:FeedChannel }").arg(channel));
    store()->deleteOrphans();
    QCOMPARE(listener.announcements.size(), 1);
    QStringList locals;
    for (const FeedEnclosure& e : listener.announcements.at(0))
        locals.append(e.localUrl());
    locals.sort();
    QCOMPARE(locals, (QStringList{QStringLiteral("/x/lost"), QStringLiteral("/x/m.mp3")}));
    QCOMPARE(listener.stillStored, 0);
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }")).isEmpty());
    QVERIFY(nodeGone(QStringLiteral("http://example.com/m.mp3")));
    QVERIFY(nodeGone(QStringLiteral("/x/m.mp3")));
    // A message without a link is no orphan.
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?m WHERE { ?m a mfo:FeedMessage }")).size(), 1);
    store()->deleteOrphans();
    QCOMPARE(listener.announcements.size(), 1);
}

void tst_FeedTrackerSparql::deleteAllChannels()
{
    store()->deleteAllChannels();
    QVERIFY(!store()->deleteMessages(QString()));
    QCOMPARE(countLogged(QStringLiteral("Channel uri empty")), 1);
    const QString a = subscribe(QStringLiteral("http://example.com/a"));
    subscribe(QStringLiteral("http://example.com/b"));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m"))}, a));
    QVERIFY(store()->deleteMessages(QStringLiteral("urn:uuid:none")));
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?m WHERE { ?m a mfo:FeedMessage }")).size() == 1);
    store()->deleteAllChannels();
    QVERIFY(store()->allChannelUrls().isEmpty());
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?m WHERE { ?m a mfo:FeedMessage }")).isEmpty());
    QVERIFY(store()->deleteMessages(QStringLiteral("urn:uuid:none")));
    QVERIFY(countLogged(QStringLiteral("Nothing to delete")) >= 1);
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
    FeedChannel channelRecord;
    channelRecord.setLink(QStringLiteral("http://example.com/other"));
    channelRecord.setIcon(enclosure(QStringLiteral("http://example.com/icon")));
    channelRecord.setUri(store()->addChannel(channelRecord));
    QVERIFY(!channelRecord.uri().isEmpty());
    QVERIFY(store()->updateChannel(channelRecord));
    QVERIFY(store()->editChannel(channelRecord.uri(), {{FeedTrackerSparql::LinkKey, QStringLiteral("http://example.com/3")},
                                                       {FeedTrackerSparql::TitleKey, QStringLiteral("t")},
                                                       {FeedTrackerSparql::LastModifiedTimeKey, QStringLiteral("2024-01-01T00:00:00")}}));
    FeedMessage posted;
    posted.setLink(QStringLiteral("http://example.com/m"));
    posted.setPublishedDate(QDateTime::currentDateTime());
    posted.setEnclosures({enclosure(QStringLiteral("http://example.com/m.mp3"))});
    QVERIFY(store()->addMessages({posted}, channel));
    QVERIFY(store()->addMessages({posted}, channelRecord.uri()));
    QCOMPARE(store()->messagesForChannel(channel).size(), 1);
    QCOMPARE(store()->allMessageUrls(channel).size(), 2);
    QCOMPARE(store()->messageLinksOfChannel(channel).size(), 2);
    QVERIFY(store()->latestPostPublishedTime(channel).isValid());
    QCOMPARE(store()->deletableMessageCount(channel), 2);
    QCOMPARE(store()->deletableMessages(channel, 5).size(), 1);
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
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:x"));
    channel.setLink(QStringLiteral("http://example.com/l"));
    QVERIFY(absent->addChannel(channel).isEmpty());
    QVERIFY(!absent->updateChannel(channel));
    QVERIFY(!absent->editChannel(QStringLiteral("urn:x"), {{FeedTrackerSparql::TitleKey, QStringLiteral("t")}}));
    QVERIFY(!absent->addMessages({FeedMessage()}, QStringLiteral("urn:x")));
    QVERIFY(absent->messagesForChannel(QStringLiteral("urn:x")).isEmpty());
    QVERIFY(absent->allMessageUrls(QStringLiteral("urn:x")).isEmpty());
    QVERIFY(absent->messageLinksOfChannel(QStringLiteral("urn:x")).isEmpty());
    QVERIFY(!absent->latestPostPublishedTime(QStringLiteral("urn:x")).isValid());
    QCOMPARE(absent->deletableMessageCount(QStringLiteral("urn:x")), 0);
    QVERIFY(absent->deletableMessages(QStringLiteral("urn:x"), 3).isEmpty());
    FeedTrackerSparql::releaseInstance();
}

VIRELON_TEST_MAIN(tst_FeedTrackerSparql)
#include "tst_feedtrackersparql.moc"
