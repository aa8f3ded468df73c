#include "feedtrackersparql.h"
#include "storeendpoint.h"
#include "testenvironment.h"

#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>
#include <qsparqlresultrow.h>
#include <virelonpaths.h>

namespace {

QStringList capturedLines;
QtMessageHandler previousHandler = nullptr;

// Log lines are kept for the test to look at; VIRELON_TEST_SHOW_LOG shows them too.
void capturingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    capturedLines.append(message);
    if (qEnvironmentVariableIsSet("VIRELON_TEST_SHOW_LOG"))
        previousHandler(type, context, message);
}

QStringList takeLog()
{
    QStringList lines;
    lines.swap(capturedLines);
    return lines;
}

// The first column of a select beside the class under test; fails the running test on a store error.
QStringList select(QSparqlConnection* connection, const QString& text)
{
    std::unique_ptr<QSparqlResult> result(connection->exec(QSparqlQuery(text)));
    QStringList values;
    if (!result || result->hasError())
        QTest::qFail(qPrintable(QStringLiteral("select failed: ") + text), __FILE__, __LINE__);
    while (result && result->next())
        values.append(result->value(0).toString());
    return values;
}

bool update(QSparqlConnection* connection, const QString& text)
{
    std::unique_ptr<QSparqlResult> result(connection->exec(QSparqlQuery(text, QSparqlQuery::InsertStatement)));
    return result && !result->hasError();
}

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

FeedMessage post(const QString& link, const QList<FeedEnclosure>& enclosures = {})
{
    FeedMessage message;
    message.setTitle(link);
    message.setLink(link);
    message.setEnclosures(enclosures);
    return message;
}

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

    void channelRow_data();
    void channelRow();
    void enclosureRow_data();
    void enclosureRow();
    void emptyRows();
    void queriesOfMissingNodes_data();
    void queriesOfMissingNodes();
    void messageStored_data();
    void messageStored();

    void enclosuresStoredExactly_data();
    void enclosuresStoredExactly();
    void knownRemoteLinkAddsOnlyParent();
    void unusableEnclosuresSkipped();
    void updateEnclosure();

    void channelWritesReadBack();
    void refreshWritesWhatUpdateWrites_data();
    void refreshWritesWhatUpdateWrites();
    void addChannelRefusesKnownLink_data();
    void addChannelRefusesKnownLink();
    void refusedChannelEdits_data();
    void refusedChannelEdits();
    void editLinkOfChannelWithoutLinkNode();

    void messagesStoredExactly_data();
    void messagesStoredExactly();
    void linksStoredAsGiven_data();
    void linksStoredAsGiven();
    void knownMessageGainsChannel();
    void linksHeldBefore_data();
    void linksHeldBefore();
    void badMessageCostsOnlyItself();
    void deletableMessages();

    void deleteChannelLeavesNothingBehind();
    void iconFileKeptWhileAnotherChannelShowsIt();
    void deletingEveryChannel_data();
    void deletingEveryChannel();
    void iconFileOutsideEnclosureDirKept();
    void deleteMessageOfSharedAndLinklessMessages();
    void trimmingKeepsWhatOthersHold_data();
    void listsAcrossSlices_data();
    void listsAcrossSlices();
    void uriLists_data();
    void uriLists();
    void trimmingKeepsWhatOthersHold();
    void feedLinkNodeSurvivesMessageDeletion();
    void deleteEnclosuresByUri();
    void orphansOfHalfFinishedWork();

    void everyQueryParses();
    void missingStoreService();

private:
    FeedTrackerSparql* store() { return FeedTrackerSparql::instance(); }
    QString addMessageNode(const QString& channelUri);
    QString subscribe(const QString& link, const QString& title = QString());
    QString file(const QString& name);
    bool nodeGone(const QString& iri);
    int count(const char* type);
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
    previousHandler = qInstallMessageHandler(capturingHandler);
}

void tst_FeedTrackerSparql::init()
{
    for (const char* type : {"mfo:FeedChannel", "mfo:FeedMessage", "mfo:Enclosure", "nie:DataObject"})
        update(_raw.get(), QStringLiteral("DELETE { ?x a rdfs:Resource } WHERE { ?x a %1 }").arg(QLatin1String(type)));
    takeLog();
}

void tst_FeedTrackerSparql::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _raw.reset();
    _endpoint.reset();
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

// A file where the store may remove one: in the enclosure directory.
QString tst_FeedTrackerSparql::file(const QString& name)
{
    QDir().mkpath(VirelonPaths::enclosureDir());
    const QString path = VirelonPaths::enclosureDir() + QLatin1Char('/') + name;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    return path;
}

// Neither a triple of its own nor one that points at it.
bool tst_FeedTrackerSparql::nodeGone(const QString& iri)
{
    return select(_raw.get(), QStringLiteral("SELECT ?p WHERE { { <%1> ?p ?o } UNION { ?s ?p <%1> } }").arg(iri)).isEmpty();
}

int tst_FeedTrackerSparql::count(const char* type)
{
    return select(_raw.get(), QStringLiteral("SELECT ?x WHERE { ?x a %1 }").arg(QLatin1String(type))).size();
}

QString tst_FeedTrackerSparql::messageUri(const QString& channelUri, const QString& link)
{
    return select(_raw.get(), QStringLiteral("SELECT ?m WHERE { ?m nie:isLogicalPartOf <%1>; nie:links <%2> }")
                                  .arg(channelUri, link))
        .value(0);
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
    QCOMPARE(QStringList({channel.uri(), channel.title(), channel.link(), channel.type(), channel.lastModifiedTime()}),
             QStringList({"urn:c", "T", "http://l/", "tamsil", "lm"}));
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
    const FeedEnclosure record = extractEnclosure(row({QStringLiteral("urn:e"), QStringLiteral("http://r/a%20b"),
                                                       QStringLiteral("file:///l/x%20y"), columns.at(0), columns.at(1),
                                                       columns.at(2), columns.at(3), QStringLiteral("icon"),
                                                       QStringLiteral("mime/type")}));
    QCOMPARE(QStringList({record.uri(), record.remoteUrl(), record.localUrl(), record.typeIcon(), record.mimeType()}),
             QStringList({"urn:e", "http://r/a%20b", "/l/x y", "icon", "mime/type"}));
    QCOMPARE(record.groupId(), group);
    QCOMPARE(record.length(), length);
    QCOMPARE(record.isDefault(), isDefault);
    QCOMPARE(int(record.type()), type);
}

// The message mapping shares its time reading with the others; the store tests
// read messages back. A row of the wrong shape gives the empty record.
void tst_FeedTrackerSparql::emptyRows()
{
    QVERIFY(extractChannel(QSparqlResultRow()).uri().isEmpty());
    QVERIFY(extractMessage(QSparqlResultRow()).title().isEmpty());
    QVERIFY(extractEnclosure(QSparqlResultRow()).uri().isEmpty());
}

void tst_FeedTrackerSparql::queriesOfMissingNodes_data()
{
    QTest::addColumn<QString>("uri");
    QTest::newRow("empty") << QString();
    QTest::newRow("no node") << QStringLiteral("urn:nothing");
    QTest::newRow("message node") << QString();
    QTest::newRow("hostile") << QStringLiteral("urn:x> } DELETE { ?s ?p ?o } WHERE { ?s ?p ?o");
}

// Every query gives its empty value and touches nothing else.
void tst_FeedTrackerSparql::queriesOfMissingNodes()
{
    QFETCH(QString, uri);
    const QString channel = subscribe(QStringLiteral("http://example.com/kept"));
    if (QByteArray(QTest::currentDataTag()) == "message node")
        uri = addMessageNode(channel);
    QVERIFY(store()->channelForUri(uri).uri().isEmpty());
    QVERIFY(store()->channelType(uri).isEmpty());
    QVERIFY(store()->enclosureForUri(uri).uri().isEmpty());
    QVERIFY(store()->enclosuresForMessage(uri).isEmpty());
    QVERIFY(store()->messagesForChannel(uri).isEmpty());
    QVERIFY(store()->deletableMessages(uri, 3).isEmpty());
    QCOMPARE(store()->deletableMessageCount(uri), 0);
    QCOMPARE(store()->allChannelUrls(), QStringList{channel});
}

void tst_FeedTrackerSparql::messageStored_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<bool>("stored");
    QTest::newRow("message") << QString() << true;
    QTest::newRow("channel") << QString() << false;
    QTest::newRow("no node") << QStringLiteral("urn:nothing") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("plain word") << QStringLiteral("word") << false;
    QTest::newRow("hostile") << QStringLiteral("urn:x> } DELETE { ?s ?p ?o } WHERE { ?s ?p ?o") << false;
}

void tst_FeedTrackerSparql::messageStored()
{
    QFETCH(QString, uri);
    QFETCH(bool, stored);
    const QString channel = subscribe(QStringLiteral("http://example.com/kept"));
    const QString message = addMessageNode(channel);
    if (QByteArray(QTest::currentDataTag()) == "message")
        uri = message;
    if (QByteArray(QTest::currentDataTag()) == "channel")
        uri = channel;
    bool ok = false;
    QCOMPARE(store()->isMessageStored(uri, &ok), stored);
    QVERIFY(ok);
    QCOMPARE(count("mfo:FeedMessage"), 1);
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
    QTest::newRow("upper-case scheme and host") << "HTTP://Example.COM/A.mp3" << "/x/A.mp3" << "a" << "b";
    QTest::newRow("2 KB url") << "http://example.com/" + QString(2048, QLatin1Char('z')) << "/x/long" << "a" << "b";
}

// A neighbour in the same batch shows that one hostile value does not sink the others.
void tst_FeedTrackerSparql::enclosuresStoredExactly()
{
    QFETCH(QString, remote);
    QFETCH(QString, local);
    QFETCH(QString, mime);
    QFETCH(QString, icon);
    const QString message = addMessageNode(subscribe(QStringLiteral("http://example.com/c")));
    FeedEnclosure written = enclosure(remote, local);
    written.setMimeType(mime);
    written.setTypeIcon(icon);
    const QString neighbour = QStringLiteral("http://example.com/neighbour.mp3");
    QVERIFY(store()->addEnclosures({written, enclosure(neighbour)}, message));

    const QList<FeedEnclosure> read = store()->enclosuresForMessage(message);
    QCOMPARE(read.size(), 2);
    const FeedEnclosure stored = read.at(0).remoteUrl() == neighbour ? read.at(1) : read.at(0);
    written.setRemoteUrl(FeedTrackerSparql::storedLink(remote));
    QCOMPARE(fields(stored), fields(written));
    QCOMPARE(fields(store()->enclosureForUri(stored.uri())), fields(written));
    // A path stored as a relative IRI makes the store warn.
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?l WHERE { <%1> mfo:localLink ?l }").arg(stored.uri()))
                .value(0)
                .startsWith(QLatin1String("file:///")));
}

// The first record of a remote link stays as written; later ones, in the same call too, only
// add a parent. Two records on one file would let the deletion of one remove the other's file.
void tst_FeedTrackerSparql::knownRemoteLinkAddsOnlyParent()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/c"));
    const QString first = addMessageNode(channel);
    const QString second = addMessageNode(channel);
    const FeedEnclosure original = enclosure(QStringLiteral("http://example.com/shared%20file.mp3"));
    FeedEnclosure changed = original;
    changed.setLocalUrl(QStringLiteral("/elsewhere"));
    changed.setMimeType(QStringLiteral("video/ogg"));
    changed.setType(FeedEnclosure::Essential);
    QVERIFY(store()->addEnclosures({original, changed}, first));
    QVERIFY(store()->addEnclosures({changed}, second));

    const QList<FeedEnclosure> ofFirst = store()->enclosuresForMessage(first);
    const QList<FeedEnclosure> ofSecond = store()->enclosuresForMessage(second);
    QCOMPARE(ofFirst.size(), 1);
    QCOMPARE(ofSecond.size(), 1);
    QCOMPARE(ofSecond.at(0).uri(), ofFirst.at(0).uri());
    QCOMPARE(fields(ofSecond.at(0)), fields(original));
    QCOMPARE(count("mfo:Enclosure"), 1);
}

void tst_FeedTrackerSparql::unusableEnclosuresSkipped()
{
    const QString message = addMessageNode(subscribe(QStringLiteral("http://example.com/c")));
    const FeedEnclosure noRemote = enclosure(QString());
    const FeedEnclosure good = enclosure(QStringLiteral("http://example.com/good"));
    QVERIFY(store()->addEnclosures({noRemote, enclosure(QStringLiteral("http://example.com/nolocal"), QString()), good}, message));
    const QList<FeedEnclosure> read = store()->enclosuresForMessage(message);
    QCOMPARE(read.size(), 1);
    QCOMPARE(read.at(0).remoteUrl(), good.remoteUrl());
    // Nothing left to write is a success: the store refuses an empty update.
    QVERIFY(store()->addEnclosures({}, message));
    QVERIFY(store()->addEnclosures({noRemote}, message));
    QVERIFY(!store()->addEnclosures({good}, QString()));
}

// The local link is not rewritten; an enclosure that is not stored gains no properties.
void tst_FeedTrackerSparql::updateEnclosure()
{
    QVERIFY(!store()->updateEnclosure(enclosure(QString())));
    QVERIFY(!store()->updateEnclosure(enclosure(QStringLiteral("http://example.com/unknown"))));
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?s WHERE { ?s nie:mimeType ?m }")).isEmpty());

    const QString message = addMessageNode(subscribe(QStringLiteral("http://example.com/c")));
    const FeedEnclosure original = enclosure(QStringLiteral("http://example.com/up date.mp3"));
    QVERIFY(store()->addEnclosures({original}, message));
    update(_raw.get(), QStringLiteral("DELETE { ?e mfo:image ?i } WHERE { ?e a mfo:Enclosure; mfo:image ?i }"));
    FeedEnclosure changed = original;
    changed.setMimeType(QStringLiteral("video/\"mp4\""));
    changed.setLength(99);
    changed.setTypeIcon(QStringLiteral("icon-video"));
    changed.setLocalUrl(QStringLiteral("/not/written"));
    QVERIFY(store()->updateEnclosure(changed));
    changed.setLocalUrl(original.localUrl());
    changed.setRemoteUrl(QStringLiteral("http://example.com/up%20date.mp3"));
    const QList<FeedEnclosure> read = store()->enclosuresForMessage(message);
    QCOMPARE(read.size(), 1);
    QCOMPARE(fields(read.at(0)), fields(changed));
}

// Times read back equal the times written, whatever the local zone.
void tst_FeedTrackerSparql::channelWritesReadBack()
{
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://example.com/feed"));
    channel.setTitle(QStringLiteral("Ti\"tle"));
    channel.setType(QStringLiteral("tamsil"));
    const FeedEnclosure icon = enclosure(QStringLiteral("http://example.com/icon.png"), QStringLiteral("/icons/icon one.png"));
    channel.setIcon(icon);
    const QString uri = store()->addChannel(channel);
    QVERIFY(!uri.isEmpty());

    FeedChannel read = store()->channelForUri(uri);
    QCOMPARE(read.title(), channel.title());
    QCOMPARE(read.link(), channel.link());
    QCOMPARE(read.type(), QStringLiteral("tamsil"));
    QVERIFY(!read.updatedTime().isValid());
    const QDateTime subscribed = read.subscribedTime();
    QVERIFY(subscribed >= before && subscribed <= QDateTime::currentDateTime());
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

    QVERIFY(store()->editChannel(uri, {{FeedTrackerSparql::LinkKey, QStringLiteral("http://example.com/moved feed")},
                                       {FeedTrackerSparql::TitleKey, QStringLiteral("Edited")},
                                       {FeedTrackerSparql::LastModifiedTimeKey, QStringLiteral("2024-01-02T03:04:05")},
                                       {QStringLiteral("4"), QStringLiteral("ignored")}}));
    read = store()->channelForUri(uri);
    QCOMPARE(read.link(), QStringLiteral("http://example.com/moved%20feed"));
    QCOMPARE(read.title(), QStringLiteral("Edited"));
    QCOMPARE(read.updatedTime(), QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::LocalTime));
    QCOMPARE(read.subscribedTime(), subscribed);
    QVERIFY(nodeGone(QStringLiteral("http://example.com/feed")));
    QVERIFY(subscribe(QString()).isEmpty());
}

// A refresh that writes only what changed leaves what updateChannel() and addMessages() leave.
void tst_FeedTrackerSparql::refreshWritesWhatUpdateWrites_data()
{
    QTest::addColumn<bool>("updatedBefore");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("lastModified");
    const QString icon = QStringLiteral("http://example.com/icon.png");
    const QString time = QStringLiteral("Mon, 06 May 2024 10:00:00 GMT");
    QTest::newRow("first refresh") << false << "Title" << icon << time;
    QTest::newRow("first refresh of nothing") << false << "" << "" << "";
    QTest::newRow("nothing changed") << true << "Title" << icon << time;
    QTest::newRow("title") << true << "New \"title\"" << icon << time;
    QTest::newRow("icon") << true << "Title" << "http://example.com/other.png" << time;
    QTest::newRow("icon gone") << true << "Title" << "" << time;
    QTest::newRow("last-modified text") << true << "Title" << icon << "Tue, 07 May 2024 10:00:00 GMT";
    QTest::newRow("no last-modified text") << true << "Title" << icon << "";
}

void tst_FeedTrackerSparql::refreshWritesWhatUpdateWrites()
{
    QFETCH(bool, updatedBefore);
    QFETCH(QString, title);
    QFETCH(QString, icon);
    QFETCH(QString, lastModified);
    const auto fetched = [](const QString& uri, const QString& title, const QString& icon, const QString& time) {
        FeedChannel channel;
        channel.setUri(uri);
        channel.setTitle(title);
        channel.setLastModifiedTime(time);
        if (!icon.isEmpty())
            channel.setIcon(enclosure(icon, QStringLiteral("/icons/") + icon.section(QLatin1Char('/'), -1)));
        return channel;
    };
    const QString ours = subscribe(QStringLiteral("http://example.com/ours"));
    const QString twin = subscribe(QStringLiteral("http://example.com/twin"));
    for (const QString& uri : {ours, twin}) {
        if (updatedBefore)
            QVERIFY(store()->updateChannel(fetched(uri, QStringLiteral("Title"), QStringLiteral("http://example.com/icon.png"),
                                                   QStringLiteral("Mon, 06 May 2024 10:00:00 GMT"))));
    }
    QVERIFY(store()->updateChannel(fetched(twin, title, icon, lastModified)));
    bool written = false;
    QVERIFY(store()->refreshChannel(fetched(ours, title, icon, lastModified), store()->storedChannel(ours),
                                    {post(QStringLiteral("http://example.com/m"))}, &written));
    QVERIFY(written);
    const QString values = QStringLiteral("SELECT CONCAT(STR(?p), ' ', STR(?o)) WHERE { <%1> ?p ?o FILTER (?p IN (rdf:type, "
                                          "nie:title, mfo:image, nie:comment, nie:characterSet)) } ORDER BY ?p ?o");
    QCOMPARE(select(_raw.get(), values.arg(ours)), select(_raw.get(), values.arg(twin)));
    QCOMPARE(store()->enclosuresForMessage(ours).size(), store()->enclosuresForMessage(twin).size());
    QVERIFY(store()->channelForUri(ours).updatedTime().isValid());
    QCOMPARE(store()->messageLinksOfChannel(ours).size(), 1);
    const QString time = QStringLiteral("2024-01-02T03:04:05");
    QVERIFY(store()->setLastModifiedTimes({{ours, QDateTime::fromString(time, Qt::ISODate)}}));
    QVERIFY(store()->editChannel(twin, {{FeedTrackerSparql::LastModifiedTimeKey, time}}));
    QCOMPARE(store()->channelForUri(ours).updatedTime(), store()->channelForUri(twin).updatedTime());
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
    QCOMPARE(takeLog().filter(QStringLiteral("Channel exists")).size(), 1);
    QCOMPARE(store()->allChannelUrls(), QStringList{first});
    QCOMPARE(store()->channelForUri(first).title(), QStringLiteral("First"));
}

void tst_FeedTrackerSparql::refusedChannelEdits_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QVariantMap>("edit");
    const QVariantMap title{{FeedTrackerSparql::TitleKey, QStringLiteral("HACKED")}};
    const QVariantMap time{{FeedTrackerSparql::LastModifiedTimeKey, QStringLiteral("2024-06-01T12:00:00Z")}};
    const QVariantMap unknownKey{{QStringLiteral("4"), QStringLiteral("x")}};
    QTest::newRow("unknown channel") << "missing" << title;
    QTest::newRow("time of an unknown channel") << "missing" << time;
    QTest::newRow("no known key for an unknown channel") << "missing" << unknownKey;
    // Title and times apply to messages and enclosures too: the store alone would take them.
    QTest::newRow("title of a message") << "message" << title;
    QTest::newRow("no known key for a message") << "message" << unknownKey;
    QTest::newRow("title of an enclosure") << "enclosure" << title;
    QTest::newRow("nothing to edit") << "channel" << QVariantMap();
    // The link fails first, so the title is not written either.
    QTest::newRow("link of another channel")
        << "channel" << QVariantMap{{FeedTrackerSparql::LinkKey, QStringLiteral("http://example.com/one")},
                                    {FeedTrackerSparql::TitleKey, QStringLiteral("Changed")}};
    QTest::newRow("empty link") << "channel" << QVariantMap{{FeedTrackerSparql::LinkKey, QString()}};
    QTest::newRow("not a time")
        << "channel" << QVariantMap{{FeedTrackerSparql::LastModifiedTimeKey, QStringLiteral("not a time")}};
}

// updateChannel() is refused the same nodes; for a channel row, an unknown one.
void tst_FeedTrackerSparql::refusedChannelEdits()
{
    QFETCH(QString, target);
    QFETCH(QVariantMap, edit);
    subscribe(QStringLiteral("http://example.com/one"), QStringLiteral("One"));
    const QString uri = subscribe(QStringLiteral("http://example.com/two"), QStringLiteral("Two"));
    const FeedMessage message = post(QStringLiteral("http://example.com/post"), {enclosure(QStringLiteral("http://a/b"))});
    QVERIFY(store()->addMessages({message}, uri));
    const QString messageUri = store()->allMessageUrls(uri).value(0);
    const QString enclosureUri = store()->enclosuresForMessage(messageUri).value(0).uri();
    const QHash<QString, QString> nodes{{QStringLiteral("channel"), uri},
                                        {QStringLiteral("message"), messageUri},
                                        {QStringLiteral("enclosure"), enclosureUri},
                                        {QStringLiteral("missing"), QStringLiteral("urn:uuid:missing")}};
    const QString triples = QStringLiteral("SELECT CONCAT(STR(?s), STR(?p), STR(?o)) WHERE { VALUES ?s { <%1> <%2> } "
                                           "?s ?p ?o }")
                                .arg(messageUri, enclosureUri);
    QStringList before = select(_raw.get(), triples);
    before.sort();
    QVERIFY(!store()->editChannel(nodes.value(target), edit));
    FeedChannel other;
    other.setUri(target == QLatin1String("channel") ? nodes.value(QStringLiteral("missing")) : nodes.value(target));
    other.setTitle(QStringLiteral("HACKED"));
    other.setIcon(enclosure(QStringLiteral("http://example.com/icon.png")));
    QVERIFY(!store()->updateChannel(other));
    bool written = true;
    store()->refreshChannel(other, store()->storedChannel(other.uri()), {}, &written);
    QVERIFY(store()->setLastModifiedTimes({{other.uri(), QDateTime::currentDateTime()}}));
    QStringList after = select(_raw.get(), triples);
    after.sort();
    QCOMPARE(after, before);
    QCOMPARE(count("mfo:Enclosure"), 1);
    const FeedChannel read = store()->channelForUri(uri);
    QCOMPARE(read.title(), QStringLiteral("Two"));
    QCOMPARE(read.link(), QStringLiteral("http://example.com/two"));
    QVERIFY(read.subscribedTime().isValid());
    QVERIFY(!read.updatedTime().isValid());
    QCOMPARE(store()->allChannelUrls().size(), 2);
    // Refused whole: nothing is written about a node that is no channel.
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?p WHERE { <urn:uuid:missing> ?p ?o }")).size(), 0);
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
    QTest::newRow("upper-case scheme and host") << "t" << "HTTP://Example.COM/Post" << date;
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
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const QString neighbour = QStringLiteral("http://example.com/neighbour");
    QVERIFY(store()->addMessages({message, post(neighbour)}, channel));
    QCOMPARE(takeLog().filter(QStringLiteral("failed"), Qt::CaseInsensitive), QStringList());

    QCOMPARE(store()->allMessageUrls(channel).size(), 2);
    QVERIFY(store()->messageLinksOfChannel(channel).contains(FeedTrackerSparql::storedLink(link)));
    const QList<FeedMessage> read = store()->messagesForChannel(channel);
    QCOMPARE(read.size(), link.isEmpty() ? 1 : 2); // the listing needs a link
    if (!link.isEmpty()) {
        const FeedMessage stored = read.at(0).link() == neighbour ? read.at(1) : read.at(0);
        QCOMPARE(stored.title(), message.title());
        QCOMPARE(stored.description(), message.description());
        QCOMPARE(stored.summary(), message.summary());
        QCOMPARE(stored.publishedDate(), published.date().year() < 10000 ? published : QDateTime());
        QVERIFY(stored.downloadedTime() >= before && stored.downloadedTime() <= QDateTime::currentDateTime());
        QCOMPARE(stored.downloadedTime().timeSpec(), Qt::LocalTime);
        if (stored.publishedDate().isValid())
            QCOMPARE(stored.publishedDate().timeSpec(), Qt::LocalTime);
    }
    // Found again at the next fetch: no second node.
    QVERIFY(store()->addMessages({message}, channel));
    QCOMPARE(store()->allMessageUrls(channel).size(), link.isEmpty() ? 3 : 2);
}

// A link is stored as the feed gives it, read back as stored, and found again in either form.
void tst_FeedTrackerSparql::linksStoredAsGiven_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("stored");
    for (const char* link : {"http://example.com/0%2Fcd295840", "http://example.com/a%2Fb?q=x%20y",
                             "http://example.com/Saxby%20Otitis%20It%27s.mp3", "http://example.com/100%25%e2%82%AC",
                             "http://example.com/Grüße/☃?q=日本🎧"})
        QTest::newRow(link) << QString::fromUtf8(link) << QString::fromUtf8(link);
    QTest::newRow("lone percent") << "http://example.com/50%off/%4" << "http://example.com/50%25off/%254";
    QTest::newRow("percent at the end") << "http://example.com/100%" << "http://example.com/100%25";
    QTest::newRow("blanks") << "http://example.com/my podcast\t.mp3" << "http://example.com/my%20podcast%09.mp3";
    QTest::newRow("quotes and brackets") << "http://example.com/\"a'<b>{c}|d\\e^f`g"
                                         << "http://example.com/%22a'%3Cb%3E%7Bc%7D%7Cd%5Ce%5Ef%60g";
    QTest::newRow("controls") << QStringLiteral("http://example.com/a\x7f\u0085\ufffe")
                              << "http://example.com/a%7F%C2%85%EF%BF%BE";
    QTest::newRow("not a url") << "a b" << "a%20b";
}

void tst_FeedTrackerSparql::linksStoredAsGiven()
{
    QFETCH(QString, given);
    QFETCH(QString, stored);
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    QVERIFY(store()->addMessages({post(given, {enclosure(given)})}, channel));
    const QString message = store()->allMessageUrls(channel).value(0);
    const QString raw = QStringLiteral("SELECT STR(?l) WHERE { { <%1> nie:links ?l } UNION { ?e nie:isLogicalPartOf <%1>; "
                                       "mfo:remoteLink ?l } }");
    QCOMPARE(select(_raw.get(), raw.arg(message)), (QStringList{stored, stored}));
    QCOMPARE(store()->messageLinksOfChannel(channel), QStringList{stored});
    QCOMPARE(store()->messagesForChannel(channel).value(0).link(), stored);
    const FeedEnclosure read = store()->enclosuresForMessage(message).value(0);
    QCOMPARE(read.remoteUrl(), stored);
    QCOMPARE(store()->enclosureForUri(read.uri()).remoteUrl(), stored);
    QCOMPARE(store()->enclosureUrisForRemoteUrls({given, stored}),
             (QHash<QString, QString>{{given, read.uri()}, {stored, read.uri()}}));

    QVERIFY(store()->addMessages({post(given, {enclosure(given)}), post(stored, {enclosure(stored)})}, channel));
    QCOMPARE(count("mfo:FeedMessage"), 1);
    QCOMPARE(count("mfo:Enclosure"), 1);
}

// The message keeps its record and enclosures, gains the second channel and a new enclosure.
void tst_FeedTrackerSparql::knownMessageGainsChannel()
{
    const QString first = subscribe(QStringLiteral("http://example.com/one"));
    const QString second = subscribe(QStringLiteral("http://example.com/two"));
    const FeedEnclosure kept = enclosure(QStringLiteral("http://example.com/kept.mp3"));
    FeedMessage message = post(QStringLiteral("http://example.com/shared \"post\">"), {kept});
    QVERIFY(store()->addMessages({message}, first));
    FeedEnclosure changedKept = kept;
    changedKept.setMimeType(QStringLiteral("changed/type"));
    message.setEnclosures({changedKept, enclosure(QStringLiteral("http://example.com/added.mp3"), QStringLiteral("/x/added"))});
    message.setTitle(QStringLiteral("Not rewritten"));
    QVERIFY(store()->addMessages({message}, second));

    const QStringList ofFirst = store()->allMessageUrls(first);
    QCOMPARE(ofFirst.size(), 1);
    QCOMPARE(store()->allMessageUrls(second), ofFirst);
    QCOMPARE(store()->messagesForChannel(second).at(0).title(), message.link());
    const QList<FeedEnclosure> enclosures = store()->enclosuresForMessage(ofFirst.at(0));
    QCOMPARE(enclosures.size(), 2);
    QCOMPARE(fields(enclosures.at(0).remoteUrl() == kept.remoteUrl() ? enclosures.at(0) : enclosures.at(1)), fields(kept));
    QCOMPARE(count("mfo:Enclosure"), 2);

    // Known within the same fetch too: a link listed twice makes one node.
    const FeedMessage twice = post(QStringLiteral("http://example.com/twice"), {kept});
    QVERIFY(store()->addMessages({twice, twice}, first));
    QCOMPARE(store()->messageLinksOfChannel(first).count(twice.link()), 1);
}

// The look-ups skip a link the store holds nowhere; whatever held it before, the stored
// result is the same as when every link was looked up.
void tst_FeedTrackerSparql::linksHeldBefore_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<int>("parents");
    QTest::addColumn<bool>("subscribable");
    QTest::newRow("never seen") << "" << 1 << true;
    QTest::newRow("a message of ours") << "ours" << 1 << true;
    QTest::newRow("a message of another channel") << "other" << 2 << true;
    QTest::newRow("a deleted message") << "deleted" << 1 << true;
    QTest::newRow("another message's enclosure") << "enclosure" << 1 << true;
    QTest::newRow("a deleted channel") << "deleted channel" << 1 << true;
    QTest::newRow("a channel") << "channel" << 1 << false;
}

void tst_FeedTrackerSparql::linksHeldBefore()
{
    QFETCH(QString, holder);
    QFETCH(int, parents);
    QFETCH(bool, subscribable);
    const QString link = QStringLiteral("http://example.com/held");
    const QString ours = subscribe(QStringLiteral("http://example.com/ours"));
    const QString other = subscribe(QStringLiteral("http://example.com/other"));
    const FeedMessage message = post(link, {enclosure(link)});
    if (holder == QLatin1String("other") || holder == QLatin1String("deleted") || holder == QLatin1String("ours"))
        QVERIFY(store()->addMessages({message}, holder == QLatin1String("ours") ? ours : other));
    if (holder == QLatin1String("deleted"))
        store()->deleteMessage(messageUri(other, link), other);
    if (holder == QLatin1String("enclosure"))
        QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/x"), {enclosure(link)})}, other));
    if (holder.endsWith(QLatin1String("channel")))
        subscribe(link);
    if (holder == QLatin1String("deleted channel"))
        store()->deleteChannel(store()->allChannelUrls().last());

    QVERIFY(store()->addMessages({message}, ours));
    const QStringList nodes = select(_raw.get(), QStringLiteral("SELECT ?m WHERE { ?m a mfo:FeedMessage; nie:links <%1> }").arg(link));
    QCOMPARE(nodes.size(), 1);
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?c WHERE { <%1> nie:isLogicalPartOf ?c }").arg(nodes.at(0))).size(), parents);
    QCOMPARE(select(_raw.get(), QStringLiteral("SELECT ?e WHERE { ?e mfo:remoteLink <%1> }").arg(link)),
             QStringList{store()->enclosuresForMessage(nodes.at(0)).value(0).uri()});
    QCOMPARE(store()->storedChannel(ours).messageLinks, QStringList{link});
    QCOMPARE(subscribe(link).isEmpty(), !subscribable);
}

// A message the store refuses is left out; the others of the batch are stored.
void tst_FeedTrackerSparql::badMessageCostsOnlyItself()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    QList<FeedMessage> messages;
    for (int i = 0; i < 3; ++i) {
        FeedMessage message = post(QStringLiteral("http://example.com/%1").arg(i),
                                   {enclosure(QStringLiteral("http://example.com/file%1").arg(i))});
        if (i == 1)
            message.setTitle(QStringLiteral("bad") + QChar(0));
        messages.append(message);
    }
    QVERIFY(!store()->addMessages(messages, channel));
    QCOMPARE(takeLog().filter(QStringLiteral("Message not stored:")).size(), 1);
    QStringList links = store()->messageLinksOfChannel(channel);
    links.sort();
    QCOMPARE(links, (QStringList{QStringLiteral("http://example.com/0"), QStringLiteral("http://example.com/2")}));
    QCOMPARE(count("mfo:Enclosure"), 2);
    QVERIFY(store()->addMessages({}, channel));
    QVERIFY(!store()->addMessages(messages, QString()));

    // The failing message made the record of a file that a good one shares: the good one
    // still gets the whole record.
    FeedMessage bad = post(QStringLiteral("http://example.com/bad"), {enclosure(QStringLiteral("http://example.com/shared"))});
    bad.setTitle(QStringLiteral("bad") + QChar(0));
    const FeedMessage good = post(QStringLiteral("http://example.com/good"), {enclosure(QStringLiteral("http://example.com/shared"))});
    QVERIFY(!store()->addMessages({bad, good}, channel));
    const QList<FeedEnclosure> kept = store()->enclosuresForMessage(messageUri(channel, QStringLiteral("http://example.com/good")));
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.at(0).remoteUrl(), QStringLiteral("http://example.com/shared"));
    QCOMPARE(count("mfo:Enclosure"), 3);
}

// Undated messages go first, by download time, then the oldest published; favourites never.
void tst_FeedTrackerSparql::deletableMessages()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    const QString undated1 = addDatedMessage(channel, QString(), QStringLiteral("2024-01-01T00:00:03Z"));
    const QString dated1 = addDatedMessage(channel, QStringLiteral("2021-06-01T12:00:00+02:00"), QStringLiteral("2024-01-01T00:00:00Z"));
    const QString undated2 = addDatedMessage(channel, QString(), QStringLiteral("2024-01-01T00:00:01Z"));
    const QString dated2 = addDatedMessage(channel, QStringLiteral("2019-01-01T00:00:00Z"), QStringLiteral("2024-01-01T00:00:05Z"));
    const QString undated3 = addDatedMessage(channel, QString(), QStringLiteral("2024-01-01T00:00:02Z"));
    addDatedMessage(channel, QStringLiteral("2000-01-01T00:00:00Z"), QStringLiteral("2023-01-01T00:00:00Z"), true);
    update(_raw.get(), QStringLiteral("INSERT { <urn:uuid:notime> a mfo:FeedMessage; nie:isLogicalPartOf <%1> }").arg(channel));

    QCOMPARE(store()->deletableMessageCount(channel), 6);
    QCOMPARE(store()->storedChannel(channel).deletableMessageCount, 6);
    QCOMPARE(store()->storedChannel(channel).messageLinks.size(), 7);
    QCOMPARE(store()->deletableMessages(channel, 4), (QStringList{undated2, undated3, undated1, dated2}));
    QCOMPARE(store()->deletableMessages(channel, 10), (QStringList{undated2, undated3, undated1, dated2, dated1}));
    QVERIFY(store()->deletableMessages(channel, 0).isEmpty());
    QVERIFY(store()->deletableMessages(channel, -1).isEmpty());
    QCOMPARE(takeLog().filter(QStringLiteral("failed"), Qt::CaseInsensitive), QStringList());
    int favourites = 0;
    for (const FeedMessage& message : store()->messagesForChannel(channel))
        favourites += message.isFavorite();
    QCOMPARE(favourites, 1);
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
    const FeedEnclosure own = enclosure(QStringLiteral("http://example.com/own.mp3"), QStringLiteral("/x/own.mp3"));
    const FeedEnclosure shared = enclosure(QStringLiteral("http://example.com/shared.mp3"), QStringLiteral("/x/shared.mp3"));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m1"), {own, shared}),
                                  post(QStringLiteral("http://example.com/m2"))}, channelA));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m2")),
                                  post(QStringLiteral("http://example.com/m3"), {shared})}, channelB));
    const QString m1 = messageUri(channelA, QStringLiteral("http://example.com/m1"));
    const QString m2 = messageUri(channelB, QStringLiteral("http://example.com/m2"));

    store()->deleteChannel(channelA);
    QCOMPARE(store()->allChannelUrls(), QStringList{channelB});
    QVERIFY(nodeGone(QStringLiteral("http://example.com/a")));
    QVERIFY(nodeGone(QStringLiteral("http://example.com/m1")));
    QVERIFY(select(_raw.get(), QStringLiteral("SELECT ?p WHERE { <%1> ?p ?o }").arg(m1)).isEmpty());
    QCOMPARE(listener.announcements.size(), 1);
    QCOMPARE(listener.announcements.at(0).size(), 1);
    const FeedEnclosure gone = listener.announcements.at(0).at(0);
    QCOMPARE(gone.remoteUrl(), own.remoteUrl());
    QCOMPARE(gone.localUrl(), own.localUrl());
    QCOMPARE(listener.stillStored, 0);
    QVERIFY(nodeGone(gone.uri()));
    // Shared parts survive with their other parent.
    QCOMPARE(store()->allMessageUrls(channelB).size(), 2);
    QVERIFY(store()->allMessageUrls(channelB).contains(m2));
    QCOMPARE(store()->enclosuresForMessage(messageUri(channelB, QStringLiteral("http://example.com/m3"))).size(), 1);
    QVERIFY(store()->channelForUri(channelB).subscribedTime().isValid());
    // The icon file goes with its last channel; its record waits for the orphan clean-up.
    QVERIFY(!QFile::exists(iconPath));
    QCOMPARE(count("mfo:Enclosure"), 2);
    store()->deleteOrphans();
    QCOMPARE(listener.announcements.size(), 2);
    QCOMPARE(listener.announcements.at(1).size(), 1);
    QCOMPARE(listener.announcements.at(1).at(0).localUrl(), iconPath);
    QCOMPARE(count("mfo:Enclosure"), 1);
    QVERIFY(nodeGone(QStringLiteral("http://example.com/icon-a.png")));

    // Messages held by another channel are no unknown channel's to delete.
    QVERIFY(!store()->deleteMessages(QString()));
    QVERIFY(store()->deleteMessages(QStringLiteral("urn:uuid:none")));
    QCOMPARE(count("mfo:FeedMessage"), 2);
    store()->deleteAllChannels();
    bool ok = false;
    QVERIFY(store()->allChannelUrls(&ok).isEmpty());
    QVERIFY(ok);
    QCOMPARE(count("mfo:FeedMessage"), 0);
}

// An icon file goes when no channel shows it any more. A channel icon that is also an image of
// a message stays when the message goes.
void tst_FeedTrackerSparql::iconFileKeptWhileAnotherChannelShowsIt()
{
    DeletionListener listener(store());
    const QString iconPath = file(QStringLiteral("shared icon.png"));
    const FeedEnclosure icon = enclosure(QStringLiteral("http://example.com/icon.png"), iconPath);
    FeedChannel channel;
    channel.setIcon(icon);
    channel.setLink(QStringLiteral("http://example.com/one"));
    const QString first = store()->addChannel(channel);
    channel.setLink(QStringLiteral("http://example.com/two"));
    const QString second = store()->addChannel(channel);
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m"), {icon})}, second));
    const QString message = messageUri(second, QStringLiteral("http://example.com/m"));
    store()->deleteEnclosures(message);
    store()->deleteMessage(message, second);
    QVERIFY(listener.announcements.isEmpty());
    QCOMPARE(store()->enclosuresForMessage(second).size(), 1);

    store()->deleteChannel(first);
    QVERIFY(QFile::exists(iconPath));
    store()->deleteChannel(second);
    QVERIFY(!QFile::exists(iconPath));
}

void tst_FeedTrackerSparql::deletingEveryChannel_data()
{
    QTest::addColumn<bool>("batched");
    QTest::newRow("one by one") << false;
    QTest::newRow("in one call") << true;
}

// Deleting every channel at once leaves what deleting them one by one leaves: nothing of
// theirs, the files of their enclosures and of their icons gone, a file no channel made kept.
void tst_FeedTrackerSparql::deletingEveryChannel()
{
    QFETCH(bool, batched);
    DeletionListener listener(store());
    const QString iconPath = file(QStringLiteral("icon.png"));
    const QString kept = file(QStringLiteral("kept.png"));
    FeedChannel channel;
    channel.setIcon(enclosure(QStringLiteral("http://example.com/icon.png"), iconPath));
    QStringList channels;
    for (const char* link : {"http://example.com/one", "http://example.com/two", "http://example.com/three"}) {
        channel.setLink(QLatin1String(link));
        channels << store()->addChannel(channel);
    }
    const FeedEnclosure both = enclosure(QStringLiteral("http://example.com/both.mp3"));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m1"), {both}),
                                  post(QStringLiteral("http://example.com/two"))}, channels.at(0)));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/m1")),
                                  post(QStringLiteral("http://example.com/m2"), {both})}, channels.at(1)));
    if (batched) {
        store()->deleteAllChannels();
    } else {
        for (const QString& uri : channels)
            store()->deleteChannel(uri);
    }
    QCOMPARE(count("mfo:FeedChannel"), 0);
    QCOMPARE(count("mfo:FeedMessage"), 0);
    QCOMPARE(count("nie:DataObject"), 0);
    QVERIFY(!QFile::exists(iconPath));
    QVERIFY(QFile::exists(kept));
    QStringList announced;
    for (const QList<FeedEnclosure>& list : qAsConst(listener.announcements)) {
        for (const FeedEnclosure& record : list)
            announced << record.remoteUrl();
    }
    QCOMPARE(announced, QStringList{both.remoteUrl()});
    store()->deleteOrphans();
    QCOMPARE(count("mfo:Enclosure"), 0);
}

// A stored local link is any text: the icon removal never reaches a file outside the enclosure
// directory, whichever way the path gets there.
void tst_FeedTrackerSparql::iconFileOutsideEnclosureDirKept()
{
    file(QStringLiteral("inside.png"));
    const QStringList outside = {_dir.filePath(QStringLiteral("document.odt")),
                                 VirelonPaths::enclosureDir() + QStringLiteral("/../kept.odt")};
    for (const QString& path : outside) {
        QFile document(path);
        QVERIFY(document.open(QIODevice::WriteOnly));
    }
    for (int i = 0; i < outside.size(); ++i) {
        FeedChannel channel;
        channel.setLink(QStringLiteral("http://example.com/%1").arg(i));
        channel.setIcon(enclosure(QStringLiteral("http://example.com/icon%1.png").arg(i), outside.at(i)));
        store()->deleteChannelImage(store()->addChannel(channel));
    }
    store()->deleteAllChannels();
    QVERIFY(store()->allChannelUrls().isEmpty());
    for (const QString& path : outside)
        QVERIFY2(QFile::exists(path), qPrintable(path));
    QVERIFY(QFile::exists(VirelonPaths::enclosureDir() + QStringLiteral("/inside.png")));
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

    QVERIFY(store()->addMessages({post(QString(), {enclosure(QStringLiteral("http://example.com/l.mp3"))})}, a));
    const QStringList ofA = store()->allMessageUrls(a);
    QCOMPARE(ofA.size(), 1);
    QCOMPARE(store()->deletableMessages(a, 1), ofA);
    store()->deleteMessage(ofA.at(0), a);
    QVERIFY(nodeGone(ofA.at(0)));
    QCOMPARE(listener.announcements.size(), 1);
    QCOMPARE(listener.announcements.at(0).at(0).remoteUrl(), QStringLiteral("http://example.com/l.mp3"));

    store()->deleteMessage(shared, b);
    QVERIFY(nodeGone(shared));
}

void tst_FeedTrackerSparql::trimmingKeepsWhatOthersHold_data()
{
    QTest::addColumn<bool>("batched");
    QTest::newRow("one by one") << false;
    QTest::newRow("in one call") << true;
}

// The list form keeps what deleting one message at a time keeps: a message another channel
// holds only leaves this one, an enclosure another message holds stays, and so does the link
// node of a feed whose URL is a message's link.
void tst_FeedTrackerSparql::trimmingKeepsWhatOthersHold()
{
    QFETCH(bool, batched);
    DeletionListener listener(store());
    const QString a = subscribe(QStringLiteral("http://example.com/a"));
    const QString b = subscribe(QStringLiteral("http://example.com/b"));
    const QDateTime subscribed = store()->channelForUri(b).subscribedTime();
    const FeedEnclosure both = enclosure(QStringLiteral("http://example.com/both.mp3"));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/own"),
                                       {enclosure(QStringLiteral("http://example.com/own.mp3")), both}),
                                  post(QStringLiteral("http://example.com/shared")), post(QStringLiteral("http://example.com/b")),
                                  post(QString(), {enclosure(QStringLiteral("http://example.com/l.mp3"))})},
                                 a));
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/other"), {both}),
                                  post(QStringLiteral("http://example.com/shared"))},
                                 b));
    const QString shared = messageUri(a, QStringLiteral("http://example.com/shared"));
    const QString other = messageUri(b, QStringLiteral("http://example.com/other"));
    const QStringList ofA = store()->allMessageUrls(a);
    QCOMPARE(ofA.size(), 4);

    const QStringList doomed = ofA + QStringList{QStringLiteral("urn:uuid:not-stored")};
    if (batched) {
        QVERIFY(store()->deleteMessagesOfChannel(doomed, a));
    } else {
        for (const QString& uri : doomed)
            store()->deleteMessage(uri, a);
    }
    QVERIFY(store()->allMessageUrls(a).isEmpty());
    const QStringList ofB = store()->allMessageUrls(b);
    QCOMPARE(QSet<QString>(ofB.cbegin(), ofB.cend()), (QSet<QString>{shared, other}));
    QCOMPARE(count("mfo:FeedMessage"), 2);
    QVERIFY(nodeGone(QStringLiteral("http://example.com/own")));
    QStringList announced;
    for (const QList<FeedEnclosure>& list : qAsConst(listener.announcements)) {
        for (const FeedEnclosure& record : list)
            announced << record.remoteUrl();
    }
    announced.sort();
    QCOMPARE(announced, (QStringList{QStringLiteral("http://example.com/l.mp3"), QStringLiteral("http://example.com/own.mp3")}));
    QCOMPARE(store()->enclosuresForMessage(other).size(), 1);
    QCOMPARE(store()->channelForUri(b).subscribedTime(), subscribed);
    QCOMPARE(store()->channelForUri(b).link(), QStringLiteral("http://example.com/b"));
}

void tst_FeedTrackerSparql::listsAcrossSlices_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("one full slice") << 500;
    QTest::newRow("a slice and one") << 501;
}

void tst_FeedTrackerSparql::uriLists_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {0, 1, 500, 501, 10000})
        QTest::newRow(qPrintable(QStringLiteral("%1 URIs").arg(size))) << size;
}

// A URI list is read a slice at a time, each URI answered as its own look-up answers it: the
// stored channel or enclosure wherever it is named, nothing for an empty, unknown or hostile URI
// or a node of another kind. Known ones come first where two slices meet, and again at the end.
void tst_FeedTrackerSparql::uriLists()
{
    QFETCH(int, size);
    const QString channel = subscribe(QStringLiteral("http://example.com/feed"));
    const FeedEnclosure written = enclosure(QStringLiteral("http://example.com/e.mp3"));
    QVERIFY(store()->addEnclosures({written}, addMessageNode(channel)));
    const QString stored = store()->enclosureUrisForRemoteUrls({written.remoteUrl()}).value(written.remoteUrl());
    const QStringList named = {stored, channel, QString(), QStringLiteral("urn:x> } DELETE { ?s ?p ?o } WHERE { ?s"),
                               channel, stored};
    QStringList uris;
    QStringList enclosures;
    QStringList channels;
    QStringList channelRecords;
    for (int i = 0; i < size; ++i) {
        uris << named.value(i < size - 2 ? i - 499 : i - size + 6, QStringLiteral("urn:uuid:unknown-%1").arg(i));
        enclosures << (uris.last() == stored ? stored : QString());
        if (uris.last() == channel)
            channels << channel;
        channelRecords << (uris.last() == channel ? channel : QString());
    }
    QCOMPARE(store()->storedChannelUris(uris), channels);
    QString listed;
    QString single;
    for (const FeedChannel& record : store()->channelsForUris(uris))
        QDebug(&listed) << record;
    for (const QString& uri : channelRecords)
        QDebug(&single) << (uri.isEmpty() ? FeedChannel() : store()->channelForUri(uri));
    QCOMPARE(listed, single);
    const QList<FeedEnclosure> records = store()->enclosuresForUris(uris);
    QStringList read;
    for (const FeedEnclosure& record : records)
        read << record.uri();
    QCOMPARE(read, enclosures);
    QCOMPARE(fields(records.value(size - 1)), fields(size ? written : FeedEnclosure()));
}

// The store is asked about long lists a slice at a time; no item may fall between two slices.
void tst_FeedTrackerSparql::listsAcrossSlices()
{
    QFETCH(int, size);
    DeletionListener listener(store());
    const QString a = subscribe(QStringLiteral("http://example.com/a"));
    const QString b = subscribe(QStringLiteral("http://example.com/b"));
    QList<FeedMessage> messages;
    QList<FeedEnclosure> enclosures;
    for (int i = 0; i < size; ++i) {
        enclosures << enclosure(QStringLiteral("http://example.com/%1.mp3").arg(i));
        messages << post(QStringLiteral("http://example.com/post/%1").arg(i), {enclosures.last()});
    }
    QVERIFY(store()->addMessages(messages, a));
    // Known messages and their known enclosures gain a parent, nothing more.
    QVERIFY(store()->addMessages(messages, b));
    QCOMPARE(count("mfo:FeedMessage"), size);
    QCOMPARE(count("mfo:Enclosure"), size);
    QCOMPARE(store()->allMessageUrls(b).size(), size);
    const QString parent = addMessageNode(b);
    QVERIFY(store()->addEnclosures(enclosures, parent));
    QCOMPARE(count("mfo:Enclosure"), size);
    QCOMPARE(store()->enclosuresForMessage(parent).size(), size);

    // Each message is still held by b: it only leaves a.
    QVERIFY(store()->deleteMessagesOfChannel(store()->allMessageUrls(a), a));
    QVERIFY(store()->allMessageUrls(a).isEmpty());
    QCOMPARE(store()->allMessageUrls(b).size(), size + 1);

    store()->deleteMessages(QList<QUrl>{QUrl(parent)});
    QVERIFY(listener.announcements.isEmpty());
    QList<QUrl> all;
    for (const QString& uri : store()->allMessageUrls(b))
        all << QUrl(uri);
    store()->deleteMessages(all);
    QCOMPARE(count("mfo:FeedMessage"), 0);
    QCOMPARE(count("mfo:Enclosure"), 0);
    QCOMPARE(listener.announcements.size(), 1);
    QCOMPARE(listener.announcements.at(0).size(), size);
}

// A message link equal to a feed URL shares the feed's link node, which keeps the
// subscription time.
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
    QCOMPARE(count("mfo:FeedMessage"), 0);
    QCOMPARE(store()->channelForUri(feed).subscribedTime(), subscribed);
    QCOMPARE(store()->channelForUri(feed).link(), QStringLiteral("http://example.com/feed"));

    // The same for an orphan enclosure whose file is that feed.
    QVERIFY(store()->addEnclosures({enclosure(QStringLiteral("http://example.com/feed"))}, QStringLiteral("urn:uuid:gone")));
    store()->deleteOrphans();
    QCOMPARE(count("mfo:Enclosure"), 0);
    QCOMPARE(store()->channelForUri(feed).subscribedTime(), subscribed);

    // A live message whose link is an orphan enclosure's file keeps its link.
    QVERIFY(store()->addMessages({post(QStringLiteral("http://example.com/ep.mp3"))}, other));
    QVERIFY(store()->addEnclosures({enclosure(QStringLiteral("http://example.com/ep.mp3"))}, QStringLiteral("urn:uuid:gone")));
    store()->deleteOrphans();
    QCOMPARE(count("mfo:Enclosure"), 0);
    QCOMPARE(store()->messageLinksOfChannel(other), QStringList{QStringLiteral("http://example.com/ep.mp3")});
}

// Unknown and repeated URIs are skipped; the announcement comes before the records go.
void tst_FeedTrackerSparql::deleteEnclosuresByUri()
{
    DeletionListener listener(store());
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
    QCOMPARE(listener.announcements.at(0).at(0).localUrl(), stored.at(0).localUrl());
    QCOMPARE(listener.stillStored, 0);

    // A single enclosure goes without an announcement; its file is the caller's.
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
    QCOMPARE(count("mfo:Enclosure"), 0);
    QVERIFY(nodeGone(QStringLiteral("http://example.com/m.mp3")));
    QVERIFY(nodeGone(QStringLiteral("/x/m.mp3")));
    // A message without a link is no orphan.
    QCOMPARE(count("mfo:FeedMessage"), 1);
    store()->deleteOrphans();
    QCOMPARE(listener.announcements.size(), 1);
}

// A query text that the store cannot parse must fail here, not for a user: every operation
// runs on a populated store and no failure may be logged.
void tst_FeedTrackerSparql::everyQueryParses()
{
    const QString channel = subscribe(QStringLiteral("http://example.com/c"));
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
    FeedMessage posted = post(QStringLiteral("http://example.com/m"), {enclosure(QStringLiteral("http://example.com/m.mp3"))});
    posted.setPublishedDate(QDateTime::currentDateTime());
    QVERIFY(store()->addMessages({posted}, channel));
    QVERIFY(store()->addMessages({posted}, channelRecord.uri()));
    QCOMPARE(store()->messagesForChannel(channel).size(), 1);
    QCOMPARE(store()->allMessageUrls(channel).size(), 2);
    QCOMPARE(store()->messageLinksOfChannel(channel).size(), 2);
    QVERIFY(store()->latestPostPublishedTime(channel).isValid());
    QCOMPARE(store()->deletableMessageCount(channel), 2);
    QCOMPARE(store()->deletableMessages(channel, 5).size(), 1);
    QCOMPARE(takeLog().filter(QStringLiteral("failed"), Qt::CaseInsensitive), QStringList());
}

// Without its store the object still exists and every operation gives its failure value.
void tst_FeedTrackerSparql::missingStoreService()
{
    const QByteArray service = qgetenv("VIRELON_STORE_SERVICE");
    FeedTrackerSparql::releaseInstance();
    qputenv("VIRELON_STORE_SERVICE", "com.vorlane.Virelon.Test.Absent");
    FeedTrackerSparql* absent = FeedTrackerSparql::instance();
    qputenv("VIRELON_STORE_SERVICE", service);
    QVERIFY(absent);
    const QString uri = QStringLiteral("urn:x");
    bool ok = true;
    QVERIFY(absent->allChannelUrls(&ok).isEmpty());
    QVERIFY(!ok);
    QVERIFY(absent->allChannels().isEmpty());
    QVERIFY(absent->channelForUri(uri).uri().isEmpty());
    QVERIFY(absent->enclosuresForMessage(uri).isEmpty());
    QVERIFY(absent->messagesForChannel(uri).isEmpty());
    QCOMPARE(absent->deletableMessageCount(uri), 0);
    QVERIFY(!absent->addEnclosures({enclosure(QStringLiteral("http://example.com/e"))}, uri));
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://example.com/l"));
    QVERIFY(absent->addChannel(channel).isEmpty());
    QVERIFY(!absent->addMessages({post(QStringLiteral("http://example.com/m"))}, uri));
    FeedTrackerSparql::releaseInstance();
}

VIRELON_TEST_MAIN(tst_FeedTrackerSparql)
#include "tst_feedtrackersparql.moc"
