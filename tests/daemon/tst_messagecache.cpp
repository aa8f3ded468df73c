#include "daemonfixture.h"
#include "daemonground.h"
#include "feedtrackersparql.h"
#include "httpfixture.h"
#include "testenvironment.h"

#include <QDBusReply>
#include <QRegularExpression>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>
#include <virelonpaths.h>

#include <memory>

namespace {

using namespace DaemonFixture;

const QString Posts = QStringLiteral("Cache/posts");
const QString Automatic = QStringLiteral("Enclosure/automatic");

// Optional enclosures are taken automatically, so that the daemon hands every one it picks to
// the scheduler; the server has none unless a test serves them.
const QByteArray Defaults = "[Cache]\nposts=100\n[Enclosure]\nautomatic=true\nonlywifi=false\n"
                            "[Refresh]\nautomatic=false\ninterval=180\nonlywifi=false\n";

enum ItemForm { Linked, Bare, Dated, LinkedLast };

QString media(const QString& server, int item)
{
    return server + QStringLiteral("/media/%1.mp3").arg(item);
}

// Items numbered from first, newest first, each with an enclosure of its own on the server;
// linked ones carry a date, dated ones a date alone, bare ones neither, and of LinkedLast items
// the last has a link. A pictured description shows an image and a script, which formatting
// changes.
QByteArray feed(int count, ItemForm form, const QString& server, int first = 0, bool pictured = false)
{
    QByteArray items;
    const QDateTime newest(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC);
    for (int i = first; i < first + count; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray shown =
            "&lt;img src=\"" + server.toUtf8() + "/img/" + n + ".png\"/&gt;&lt;script&gt;track()&lt;/script&gt;";
        items += "<item><title>Item " + n + "</title><description>Text of item " + n + "." + (pictured ? shown : "")
                 + "</description><enclosure url=\"" + media(server, i).toUtf8()
                 + "\" type=\"audio/mpeg\" length=\"1\"/>";
        if (form == Linked || (form == LinkedLast && i == first + count - 1))
            items += "<link>http://harbour.example/items/" + n + "</link>";
        if (form == Linked || form == Dated)
            items += "<pubDate>" + newest.addSecs(-60 * i).toString(Qt::RFC2822Date).toLatin1() + "</pubDate>";
        items += "</item>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Harbour</title>"
           "<link>http://harbour.example/</link><description>News</description>\n"
           + items + "</channel></rss>\n";
}

// "Item n" for each n from first to last.
QStringList titles(int first, int last)
{
    QStringList list;
    for (int i = first; i <= last; ++i)
        list.append(QStringLiteral("Item %1").arg(i));
    return list;
}

QVariantMap conf()
{
    return QDBusReply<QVariantMap>(call(QStringLiteral("conf"))).value();
}

} // namespace

// The message cache as the running daemon uses it, with the real store and tamsil, feeds served
// on 127.0.0.1.
class tst_MessageCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void lowerLimitTrimsStoredChannels();
    void limitCutsAFetch();
    void bareItemsAreStoredOnce();
    void fetchOverTheLimit_data();
    void fetchOverTheLimit();
    void escapedLinksAreKnownAgain();
    void orphanFilesAtFirstState();
    void deletedWhileDownloading();

private:
    QString server() const { return _http.url(QString()).toString(); }
    bool startDaemon();
    // Subscribes the feed and waits for its first refresh; the channel's URI.
    QString subscribe(const QString& path);
    bool refresh(const QString& uri);
    QStringList storedTitles(const QString& uri) const;
    int deletable(const QString& uri) const;
    QStringList query(const QString& text) const;
    // The enclosure counts that the daemon handed to the scheduler, in order.
    QList<int> handedEnclosureCounts();

    QTemporaryDir _dir;
    DaemonGround _ground;
    std::unique_ptr<QSparqlConnection> _raw;
    HttpFixture _http;
    std::unique_ptr<Daemon> _daemon;
    std::unique_ptr<SignalRecorder> _signals;
};

void tst_MessageCache::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_dir.isValid());
    QVERIFY(_ground.prepare(_dir.path()));
    _raw.reset(new QSparqlConnection(QStringLiteral("QTRACKER_DIRECT")));
    QVERIFY(_raw->isValid());
    const QString config = _dir.filePath(QStringLiteral("etc/virelon"));
    QVERIFY(QDir().mkpath(config));
    QFile defaults(config + QStringLiteral("/settings.conf"));
    QVERIFY(defaults.open(QIODevice::WriteOnly));
    QCOMPARE(defaults.write(Defaults), qint64(Defaults.size()));
}

void tst_MessageCache::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _raw.reset();
    _ground.release();
}

// Every test starts from an empty store, the shipped settings and no files.
void tst_MessageCache::init()
{
    for (const char* type : {"mfo:FeedChannel", "mfo:FeedMessage", "mfo:Enclosure"}) {
        std::unique_ptr<QSparqlResult> result(_raw->exec(QSparqlQuery(
            QStringLiteral("DELETE { ?x a rdfs:Resource } WHERE { ?x a %1 }").arg(QLatin1String(type)),
            QSparqlQuery::DeleteStatement)));
        QVERIFY(result && !result->hasError());
    }
    QVERIFY(QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/virelon")).removeRecursively());
    QVERIFY(QDir(VirelonPaths::enclosureDir()).removeRecursively());
    QVERIFY(QDir().mkpath(VirelonPaths::enclosureDir()));
}

void tst_MessageCache::cleanup()
{
    if (QTest::currentTestFailed() && _daemon)
        qInfo().noquote() << _daemon->log();
    _signals.reset();
    _daemon.reset();
}

bool tst_MessageCache::startDaemon()
{
    _daemon.reset();
    _daemon.reset(new Daemon);
    _signals.reset(new SignalRecorder);
    return _daemon->waitForService();
}

QString tst_MessageCache::subscribe(const QString& path)
{
    return _signals->subscribe(_http.url(path).toString());
}

bool tst_MessageCache::refresh(const QString& uri)
{
    return _signals->refresh(uri) && _signals->count(QStringLiteral("refreshError")) == 0;
}

// Read directly: the store's own message list leaves out messages without a link.
QStringList tst_MessageCache::storedTitles(const QString& uri) const
{
    return query(
        QStringLiteral("SELECT ?t WHERE { ?m a mfo:FeedMessage; nie:isLogicalPartOf <%1>; nie:title ?t }").arg(uri));
}

int tst_MessageCache::deletable(const QString& uri) const
{
    bool ok = false;
    const int count = FeedTrackerSparql::instance()->deletableMessageCount(uri, &ok);
    return ok ? count : -1;
}

QStringList tst_MessageCache::query(const QString& text) const
{
    std::unique_ptr<QSparqlResult> result(_raw->exec(QSparqlQuery(text)));
    QStringList values;
    while (result && !result->hasError() && result->next())
        values.append(result->value(0).toString());
    values.sort();
    return values;
}

QList<int> tst_MessageCache::handedEnclosureCounts()
{
    static const QRegularExpression count(QStringLiteral("Enclosure count:\\s+(\\d+)"));
    QList<int> counts;
    for (auto it = count.globalMatch(QString::fromUtf8(_daemon->log())); it.hasNext();)
        counts.append(it.next().captured(1).toInt());
    return counts;
}

void tst_MessageCache::lowerLimitTrimsStoredChannels()
{
    _http.serve(QStringLiteral("/hundred-twenty.xml"), feed(120, Linked, server()), "application/rss+xml");
    QVERIFY(startDaemon());
    QCOMPARE(call(QStringLiteral("setConf"), {QVariantMap{{Posts, 200}, {Automatic, false}}}).type(),
             QDBusMessage::ReplyMessage);
    const QString uri = subscribe(QStringLiteral("/hundred-twenty.xml"));
    QVERIFY(!uri.isEmpty());
    QCOMPARE(deletable(uri), 120);
    // The oldest item, the first to go were it not a favourite.
    std::unique_ptr<QSparqlResult> tagged(_raw->exec(QSparqlQuery(
        QStringLiteral("INSERT { ?m nao:hasTag nao:predefined-tag-favorite } WHERE { ?m a mfo:FeedMessage; "
                       "nie:isLogicalPartOf <%1>; nie:title 'Item 119' }")
            .arg(uri),
        QSparqlQuery::InsertStatement)));
    QVERIFY(tagged && !tagged->hasError());
    QCOMPARE(deletable(uri), 119);

    QCOMPARE(call(QStringLiteral("setConf"), {QVariantMap{{Posts, 50}}}).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(deletable(uri), 50);
    QStringList kept = {QStringLiteral("Item 119")};
    for (int i = 0; i < 50; ++i)
        kept.append(QStringLiteral("Item %1").arg(i));
    kept.sort();
    QCOMPARE(storedTitles(uri), kept);
    QCOMPARE(conf().value(Posts).toString(), QStringLiteral("50"));

    // Regression: text that is no number read as 0, the floor of 50, and trimmed every channel.
    QCOMPARE(call(QStringLiteral("setConf"), {QVariantMap{{Posts, QStringLiteral("abc")}}}).type(),
             QDBusMessage::ReplyMessage);
    QCOMPARE(conf().value(Posts).toString(), QStringLiteral("50"));
    QCOMPARE(storedTitles(uri), kept);
}

// Regression: the enclosures of all 150 items were downloaded, 50 of them with no record that
// would ever remove their files. The optional enclosures of the stored items are taken
// automatically, all of them served.
void tst_MessageCache::limitCutsAFetch()
{
    for (int i = 0; i < 150; ++i)
        _http.serve(QUrl(media(server(), i)).path(), "sound " + QByteArray::number(i), "audio/mpeg");
    _http.serve(QStringLiteral("/hundred-fifty.xml"), feed(150, Linked, server()), "application/rss+xml");
    QVERIFY(startDaemon());
    const QString uri = subscribe(QStringLiteral("/hundred-fifty.xml"));
    QVERIFY(!uri.isEmpty());
    QCOMPARE(deletable(uri), 100);
    QStringList first;
    QStringList stored;
    QStringList files;
    for (int i = 0; i < 100; ++i) {
        first.append(QStringLiteral("Item %1").arg(i));
        stored.append(media(server(), i));
    }
    first.sort();
    stored.sort();
    QCOMPARE(storedTitles(uri), first);
    QCOMPARE(query(QStringLiteral("SELECT ?r WHERE { ?e a mfo:Enclosure; mfo:remoteLink ?r }")), stored);

    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadCompleted"), 100));
    // Nothing is left to download once the stored items' enclosures are in.
    QTRY_COMPARE_WITH_TIMEOUT(QDBusReply<QVariantMap>(call(QStringLiteral("enclosureStatus"), {QStringList()})).value(),
                              QVariantMap(), timeout());
    const QStringList local = query(QStringLiteral("SELECT ?l WHERE { ?e a mfo:Enclosure; mfo:localLink ?l }"));
    for (const QString& path : local)
        files.append(QFileInfo(path).fileName());
    files.sort();
    QCOMPARE(files.size(), 100);
    QCOMPARE(QDir(VirelonPaths::enclosureDir()).entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
    QCOMPARE(_signals->count(QStringLiteral("enclosureDownloadCompleted")), 100);
}

// Regression: items with neither link nor date were new at every refresh.
void tst_MessageCache::bareItemsAreStoredOnce()
{
    _http.serve(QStringLiteral("/bare.xml"), feed(10, Bare, server()), "application/rss+xml");
    QVERIFY(startDaemon());
    const QString uri = subscribe(QStringLiteral("/bare.xml"));
    QVERIFY(!uri.isEmpty());
    QVERIFY(refresh(uri));
    QVERIFY(refresh(uri));
    QCOMPARE(storedTitles(uri).size(), 10);

    _http.serve(QStringLiteral("/bare.xml"), feed(11, Bare, server()), "application/rss+xml");
    QVERIFY(refresh(uri));
    QCOMPARE(storedTitles(uri).size(), 11);
    QVERIFY(storedTitles(uri).contains(QStringLiteral("Item 10")));
    // Each refresh hands over no essential enclosure, then the optional ones of its new items.
    QTRY_COMPARE_WITH_TIMEOUT(handedEnclosureCounts().size(), 6, timeout());
    QCOMPARE(handedEnclosureCounts(), QList<int>({0, 10, 0, 0, 0, 1}));
}

void tst_MessageCache::fetchOverTheLimit_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<int>("favouriteImageFetches");
    QTest::newRow("linked: a favourite past the limit keeps its image") << int(Linked) << titles(-3, 49) << 2;
    QTest::newRow("dated without link") << int(Dated) << titles(-3, 49) << 1;
    QTest::newRow("neither link nor date: known by the formatted text") << int(Bare) << titles(-3, 49) << 1;
    QTest::newRow("one link past the limit: link-less items known by it") << int(LinkedLast) << titles(0, 49) << 1;
}

// Limit 50: a fetch of 60 pictured items keeps 0 to 49, of which 47 to 49 are then made
// favourites; the next fetch puts 3 newer items on top. Stored are the kept items' formatted
// texts with their images and enclosures, each once, and nothing of the others.
void tst_MessageCache::fetchOverTheLimit()
{
    QFETCH(int, form);
    QFETCH(QStringList, stored);
    QFETCH(int, favouriteImageFetches);
    const QString favourite = QStringLiteral("/img/49.png");
    const int fetchedBefore = _http.requests(favourite).size();
    _http.serve(QStringLiteral("/over.xml"), feed(60, ItemForm(form), server(), 0, true), "application/rss+xml");
    QVERIFY(startDaemon());
    call(QStringLiteral("setConf"), {QVariantMap{{Posts, 50}, {Automatic, false}}});
    const QString uri = subscribe(QStringLiteral("/over.xml"));
    QVERIFY(!uri.isEmpty());
    std::unique_ptr<QSparqlResult> tagged(_raw->exec(QSparqlQuery(
        QStringLiteral("INSERT { ?m nao:hasTag nao:predefined-tag-favorite } WHERE { ?m nie:isLogicalPartOf <%1>; "
                       "nie:title ?t FILTER (?t IN ('Item 47', 'Item 48', 'Item 49')) }").arg(uri),
        QSparqlQuery::InsertStatement)));
    QVERIFY(tagged && !tagged->hasError());
    _http.serve(QStringLiteral("/over.xml"), feed(63, ItemForm(form), server(), -3, true), "application/rss+xml");
    QVERIFY(refresh(uri));

    stored.sort();
    QCOMPARE(storedTitles(uri), stored);
    QStringList enclosures;
    for (const QString& title : qAsConst(stored))
        enclosures << media(server(), title.mid(5).toInt()) << server() + "/img/" + title.mid(5) + ".png";
    enclosures.sort();
    QCOMPARE(query(QStringLiteral("SELECT ?r WHERE { ?e a mfo:Enclosure; mfo:remoteLink ?r }")), enclosures);
    QCOMPARE(query(QStringLiteral("SELECT ?m WHERE { ?m nie:isLogicalPartOf <%1>; nie:description ?d FILTER "
                                  "(CONTAINS(?d, '%2') && !CONTAINS(?d, '<script')) }")
                       .arg(uri, VirelonPaths::enclosureDir()))
                 .size(),
             stored.size());
    QCOMPARE(_http.requests(favourite).size() - fetchedBefore, favouriteImageFetches);
}

// Regression: a link that the store keeps escaped (a blank, a lone "%") was new at every refresh,
// and the file of its message was never fetched.
void tst_MessageCache::escapedLinksAreKnownAgain()
{
    _http.serve(QStringLiteral("/media/Saxby%20Otitis%20100%25.mp3"), "sound", "audio/mpeg");
    const QByteArray item = "<item><title>Odd</title><link>http://harbour.example/items/a b/50%</link><enclosure url=\""
                            + server().toUtf8() + "/media/Saxby Otitis 100%.mp3\" type=\"audio/mpeg\"/></item>";
    _http.serve(QStringLiteral("/odd.xml"), "<rss version=\"2.0\"><channel><title>Harbour</title>" + item + "</channel></rss>",
                "application/rss+xml");
    QVERIFY(startDaemon());
    const QString uri = subscribe(QStringLiteral("/odd.xml"));
    QVERIFY(!uri.isEmpty());
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadCompleted")));
    QVERIFY(refresh(uri));
    QCOMPARE(storedTitles(uri), QStringList{QStringLiteral("Odd")});
    const QStringList critical = messages(_daemon->settledLog(), QLatin1Char('C'));
    QCOMPARE(critical.filter(QStringLiteral("No new messages to add to tracker")).size(), 1);
}

// Regression: the file at any stored local path was removed, a user's own file too, and the
// unfinished download of one inside the enclosure directory stayed.
void tst_MessageCache::orphanFilesAtFirstState()
{
    const QString outside = _dir.filePath(QStringLiteral("mine.mp3"));
    const QString inside = VirelonPaths::enclosureDir() + QStringLiteral("/left.mp3");
    for (const QString& path : {outside, inside, inside + QStringLiteral(".part")}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QList<FeedEnclosure> orphans;
    for (const QString& path : {outside, inside}) {
        FeedEnclosure enclosure;
        enclosure.setRemoteUrl(QStringLiteral("http://harbour.example/") + QFileInfo(path).fileName());
        enclosure.setLocalUrl(path);
        orphans.append(enclosure);
    }
    QVERIFY(FeedTrackerSparql::instance()->addEnclosures(orphans, QStringLiteral("urn:uuid:gone")));
    const QString enclosures = QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }");
    QCOMPARE(query(enclosures).size(), 2);

    QVERIFY(startDaemon());
    QCOMPARE(QDBusReply<int>(call(QStringLiteral("state"))).value(), 0);
    QCOMPARE(query(enclosures), QStringList());
    QVERIFY(QFile::exists(outside));
    QVERIFY(!QFile::exists(inside));
    QVERIFY(!QFile::exists(inside + QStringLiteral(".part")));
}

// Trimming deletes the record of an enclosure whose download runs: the download is stopped, its
// ".part" goes, and nothing it received is made final afterwards.
void tst_MessageCache::deletedWhileDownloading()
{
    // The running download stays running: its first bytes come, the rest never.
    HttpFixture::Reply held;
    held.body = QByteArray(1024 * 1024, 'o');
    held.delivery = HttpFixture::Hold;
    held.chunkSize = 16 * 1024;
    const QString oldest = media(server(), 59);
    _http.setReply(QUrl(oldest).path(), held);
    _http.serve(QUrl(media(server(), 0)).path(), "newest", "audio/mpeg");
    _http.serve(QStringLiteral("/sixty.xml"), feed(60, Linked, server()), "application/rss+xml");
    QVERIFY(startDaemon());
    QCOMPARE(call(QStringLiteral("setConf"), {QVariantMap{{Automatic, false}}}).type(), QDBusMessage::ReplyMessage);
    const QString uri = subscribe(QStringLiteral("/sixty.xml"));
    QVERIFY(!uri.isEmpty());
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    const QHash<QString, QString> enclosures = store->enclosureUrisForRemoteUrls({oldest, media(server(), 0)});
    QCOMPARE(enclosures.size(), 2);
    const FeedEnclosure running = store->enclosureForUri(enclosures.value(oldest));
    const FeedEnclosure later = store->enclosureForUri(enclosures.value(media(server(), 0)));
    QVERIFY(!running.localUrl().isEmpty() && !later.localUrl().isEmpty());

    call(QStringLiteral("downloadEnclosure"), {uri, QStringList{running.uri()}});
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadProgress")));
    QVERIFY(QFile::exists(running.localUrl() + QStringLiteral(".part")));
    QCOMPARE(call(QStringLiteral("setConf"), {QVariantMap{{Posts, 50}}}).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(deletable(uri), 50);
    QVERIFY(store->enclosureForUri(running.uri()).uri().isEmpty());
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadError")));
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadError")),
             QList<QVariantList>({{QStringList{running.uri()}, 201, 0LL}}));

    // Once a later download is done, the plug-in has long ended the stopped one.
    call(QStringLiteral("downloadEnclosure"), {uri, QStringList{later.uri()}});
    QVERIFY(_signals->waitFor(QStringLiteral("enclosureDownloadCompleted")));
    QCOMPARE(_signals->arguments(QStringLiteral("enclosureDownloadCompleted")).value(0).value(0).toString(),
             later.uri());
    QVERIFY(!QFile::exists(running.localUrl()));
    QVERIFY(!QFile::exists(running.localUrl() + QStringLiteral(".part")));
    QCOMPARE(QDir(VirelonPaths::enclosureDir()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QFileInfo(later.localUrl()).fileName()});
}

VIRELON_TEST_MAIN(tst_MessageCache)
#include "tst_messagecache.moc"
