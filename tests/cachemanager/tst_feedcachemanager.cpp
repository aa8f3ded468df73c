#include "feedcachemanager.h"
#include "feedchannel.h"
#include "feedtrackersparql.h"
#include "storeendpoint.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>
#include <virelonpaths.h>

namespace {

QStringList capturedLines;
QtMessageHandler previousHandler = nullptr;

// Log lines are kept for the test to look at; VIRELON_TEST_SHOW_LOG shows them too.
void capturingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    capturedLines.append(message);
    if (qEnvironmentVariableIsSet("VIRELON_TEST_SHOW_LOG") || message.startsWith(QLatin1String("QObject::connect")))
        previousHandler(type, context, message);
}

// The message texts of the log lines taken since the last call, without their headers.
QStringList takeLog()
{
    QStringList texts;
    for (const QString& line : qAsConst(capturedLines))
        texts.append(line.section(QLatin1Char('\n'), 5));
    capturedLines.clear();
    return texts;
}

const int NoDate = -1;
const QDateTime Base(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
const QString Site = QStringLiteral("http://example.com/");

FeedMessage post(const QString& title, const QString& link = QString(), int second = NoDate,
                 const QString& description = QString())
{
    FeedMessage message;
    message.setTitle(title);
    message.setLink(link);
    message.setDescription(description.isNull() ? QStringLiteral("<p>") + title + QStringLiteral("</p>") : description);
    message.setSummary(QStringLiteral("summary"));
    if (second != NoDate)
        message.setPublishedDate(Base.addSecs(second));
    return message;
}

FeedMessage linked(const QString& title, int second = NoDate)
{
    return post(title, Site + title, second);
}

// Linked and dated, one second apart, oldest first.
QList<FeedMessage> series(const QString& prefix, int count, int firstSecond = 0)
{
    QList<FeedMessage> messages;
    for (int i = 0; i < count; ++i)
        messages.append(linked(prefix + QString::number(i).rightJustified(3, QLatin1Char('0')), firstSecond + i));
    return messages;
}

QStringList titles(const QList<FeedMessage>& messages)
{
    QStringList list;
    for (const FeedMessage& message : messages)
        list.append(message.title());
    return list;
}

} // namespace

// Announced enclosures reach this slot as they reach the cache manager: by a direct call from
// inside the store operation, where the cache manager may still be in the making.
class CreationProbe : public QObject
{
    Q_OBJECT

public:
    bool called = false;
    FeedCacheManager* seen = nullptr;

public slots:
    void handleEnclosureDeletion(QList<FeedEnclosure>&)
    {
        called = true;
        seen = FeedCacheManager::instance();
    }
};

class tst_FeedCacheManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void newMessages_data();
    void newMessages();
    void room_data();
    void room();
    void changeSetting_data();
    void changeSetting();
    void loadedLimit_data();
    void loadedLimit();
    void orphanFilesAtCreation_data();
    void orphanFilesAtCreation();
    void trimmedMessagesTakeTheirFiles();
    void linklessUndatedRefreshes();
    // Last: it stops the store service.
    void failedReadDeletesNothing();

private:
    FeedTrackerSparql* store() { return FeedTrackerSparql::instance(); }
    FeedCacheManager* cache(int limit);
    QString subscribe();
    void storeMessages(const QString& channelUri, const QList<FeedMessage>& messages);
    void storeFavourites(const QString& channelUri, int count);
    FeedChannel fetched(const QString& channelUri, QList<FeedMessage> messages);
    QStringList storedTitles(const QString& channelUri);
    int deletable(const QString& channelUri);
    QString place(const QString& path) const;
    QString file(const QString& path);

    QTemporaryDir _dir;
    std::unique_ptr<StoreEndpoint> _endpoint;
    std::unique_ptr<QSparqlConnection> _raw;
    int _channels = 0;
};

void tst_FeedCacheManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    _endpoint.reset(new StoreEndpoint(_dir.filePath(QStringLiteral("store"))));
    QVERIFY2(_endpoint->start(), "the store service did not start (is there a session bus?)");
    _raw.reset(new QSparqlConnection(QStringLiteral("QTRACKER_DIRECT")));
    QVERIFY(_raw->isValid());
    previousHandler = qInstallMessageHandler(capturingHandler);
}

void tst_FeedCacheManager::init()
{
    for (const char* type : {"mfo:FeedChannel", "mfo:FeedMessage", "mfo:Enclosure", "nie:DataObject"}) {
        std::unique_ptr<QSparqlResult> result(_raw->exec(QSparqlQuery(
            QStringLiteral("DELETE { ?x a rdfs:Resource } WHERE { ?x a %1 }").arg(QLatin1String(type)),
            QSparqlQuery::DeleteStatement)));
        QVERIFY(result && !result->hasError());
    }
    QVERIFY(QDir(QDir::homePath()).removeRecursively());
    QVERIFY(QDir().mkpath(VirelonPaths::enclosureDir()));
    takeLog();
}

void tst_FeedCacheManager::cleanup()
{
    FeedCacheManager::releaseInstance();
}

void tst_FeedCacheManager::cleanupTestCase()
{
    FeedTrackerSparql::releaseInstance();
    _raw.reset();
    _endpoint.reset();
}

// A cache manager made anew with the limit in the settings store.
FeedCacheManager* tst_FeedCacheManager::cache(int limit)
{
    FeedCacheManager::releaseInstance();
    QSettings(QStringLiteral("virelon"), QStringLiteral("settings")).setValue(FeedCacheManager::CachePostsKey, limit);
    FeedCacheManager* manager = FeedCacheManager::instance();
    if (!manager || manager->maxPosts() != limit)
        QTest::qFail("the cache manager did not take the limit", __FILE__, __LINE__);
    return manager;
}

QString tst_FeedCacheManager::subscribe()
{
    FeedChannel channel;
    channel.setLink(Site + QStringLiteral("feed%1").arg(++_channels));
    channel.setType(QStringLiteral("tamsil"));
    const QString uri = store()->addChannel(channel);
    if (uri.isEmpty())
        QTest::qFail("no channel stored", __FILE__, __LINE__);
    return uri;
}

void tst_FeedCacheManager::storeMessages(const QString& channelUri, const QList<FeedMessage>& messages)
{
    if (!messages.isEmpty() && !store()->addMessages(messages, channelUri))
        QTest::qFail("messages not stored", __FILE__, __LINE__);
}

void tst_FeedCacheManager::storeFavourites(const QString& channelUri, int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("INSERT { <%1> a mfo:FeedMessage; nie:isLogicalPartOf <%2>; nie:title 'favourite'; "
                               "nie:description 'd'; nie:subject 's'; mfo:downloadedTime '2024-01-01T00:00:00Z'; "
                               "nao:hasTag nao:predefined-tag-favorite } ")
                    .arg(_raw->createUrn().toString(), channelUri);
    std::unique_ptr<QSparqlResult> result(_raw->exec(QSparqlQuery(text, QSparqlQuery::InsertStatement)));
    if (!result || result->hasError())
        QTest::qFail("favourites not stored", __FILE__, __LINE__);
}

FeedChannel tst_FeedCacheManager::fetched(const QString& channelUri, QList<FeedMessage> messages)
{
    FeedChannel channel;
    channel.setUri(channelUri);
    channel.setMessages(messages);
    return channel;
}

QStringList tst_FeedCacheManager::storedTitles(const QString& channelUri)
{
    std::unique_ptr<QSparqlResult> result(_raw->exec(QSparqlQuery(
        QStringLiteral("SELECT ?t WHERE { ?m a mfo:FeedMessage; nie:isLogicalPartOf <%1>; nie:title ?t } ORDER BY ?t")
            .arg(channelUri))));
    QStringList list;
    while (result && !result->hasError() && result->next())
        list.append(result->value(0).toString());
    return list;
}

int tst_FeedCacheManager::deletable(const QString& channelUri)
{
    bool ok = false;
    const int count = store()->deletableMessageCount(channelUri, &ok);
    return ok ? count : -1;
}

// {in} is the enclosure directory, {out} a folder that is no part of it.
QString tst_FeedCacheManager::place(const QString& path) const
{
    return QString(path)
        .replace(QStringLiteral("{in}"), VirelonPaths::enclosureDir())
        .replace(QStringLiteral("{out}"), QDir::homePath() + QStringLiteral("/outside"));
}

// A file of the test's own, made if missing.
QString tst_FeedCacheManager::file(const QString& path)
{
    const QString full = place(path);
    QDir().mkpath(QFileInfo(full).path());
    QFile made(full);
    if (!made.exists() && !made.open(QIODevice::WriteOnly))
        QTest::qFail(qPrintable(QStringLiteral("cannot make ") + full), __FILE__, __LINE__);
    return full;
}

void tst_FeedCacheManager::newMessages_data()
{
    QTest::addColumn<QList<FeedMessage>>("stored");
    QTest::addColumn<QList<FeedMessage>>("fetch");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("nothingNewLogged");

    const QList<FeedMessage> none;
    const FeedMessage quoted = post(QStringLiteral("He said \"hi\"\nand left"), QString(), NoDate,
                                    QStringLiteral("<a href='x'>&amp; \\ %5 ?:link</a>\r\n\t"));
    QTest::newRow("by link, nothing stored") << none << QList<FeedMessage>{linked("a"), linked("b")}
                                             << QStringList{"a", "b"} << false;
    QTest::newRow("by link, known ones left out")
        << QList<FeedMessage>{linked("a"), linked("b")}
        << QList<FeedMessage>{linked("c"), linked("a"), linked("b"), linked("d")} << QStringList{"c", "d"} << false;
    QTest::newRow("by link, nothing new") << QList<FeedMessage>{linked("a")} << QList<FeedMessage>{linked("a")}
                                          << QStringList() << true;
    QTest::newRow("by link, letter case differs")
        << QList<FeedMessage>{post("A", Site + "Post")} << QList<FeedMessage>{post("a", Site + "post")}
        << QStringList{"a"} << false;
    QTest::newRow("by link, the first 100 of 150") << none << series("m", 150) << titles(series("m", 100)) << false;
    QTest::newRow("mixed, link-less known by a stored link-less one")
        << QList<FeedMessage>{post("x"), linked("a")} << QList<FeedMessage>{linked("a"), post("y"), linked("b")}
        << QStringList{"b"} << false;
    QTest::newRow("mixed, link-less new beside linked stored ones")
        << QList<FeedMessage>{linked("a")} << QList<FeedMessage>{linked("a"), post("y")} << QStringList{"y"} << false;
    QTest::newRow("by time")
        << QList<FeedMessage>{post("s", QString(), 100)}
        << QList<FeedMessage>{post("old", QString(), 50), post("equal", QString(), 100), post("later", QString(), 101),
                              post("undated")}
        << QStringList{"later"} << false;
    QTest::newRow("by time, nothing new") << QList<FeedMessage>{post("s", QString(), 100)}
                                          << QList<FeedMessage>{post("s", QString(), 100)} << QStringList() << true;
    QTest::newRow("by time, nothing fetched") << QList<FeedMessage>{post("s", QString(), 100)} << none
                                              << QStringList() << true;
    QTest::newRow("by time, undated after dated ones") << QList<FeedMessage>{post("s", QString(), 100)}
                                                       << QList<FeedMessage>{post("x")} << QStringList() << true;
    QTest::newRow("nothing stored, nothing fetched") << none << none << QStringList() << false;
    QTest::newRow("undated, nothing stored: all taken")
        << none << QList<FeedMessage>{post("x"), post("y"), post("x")} << QStringList{"x", "y", "x"} << false;
    QTest::newRow("undated, known texts left out")
        << QList<FeedMessage>{post("x"), post("y")}
        << QList<FeedMessage>{post("x"), post("z"), post("y"), post("w")} << QStringList{"z", "w"} << false;
    QTest::newRow("undated, one text twice in a fetch")
        << QList<FeedMessage>{post("x")} << QList<FeedMessage>{post("z"), post("z")} << QStringList{"z"} << false;
    QTest::newRow("undated, same title, other description")
        << QList<FeedMessage>{post("x", QString(), NoDate, "one")}
        << QList<FeedMessage>{post("x", QString(), NoDate, "two")} << QStringList{"x"} << false;
    QTest::newRow("undated, text compared as stored")
        << QList<FeedMessage>{quoted} << QList<FeedMessage>{quoted} << QStringList() << true;
}

void tst_FeedCacheManager::newMessages()
{
    QFETCH(QList<FeedMessage>, stored);
    QFETCH(QList<FeedMessage>, fetch);
    QFETCH(QStringList, expected);
    QFETCH(bool, nothingNewLogged);

    const QString channel = subscribe();
    storeMessages(channel, stored);
    const QStringList before = storedTitles(channel);
    FeedCacheManager* manager = cache(100);
    takeLog();
    bool ok = false;
    QCOMPARE(titles(manager->updateFeedMessage(fetched(channel, fetch), &ok)), expected);
    QVERIFY(ok);
    QCOMPARE(takeLog().contains(QStringLiteral("No new messages to add to tracker")), nothingNewLogged);
    QCOMPARE(storedTitles(channel), before);
}

void tst_FeedCacheManager::room_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("favourites");
    QTest::addColumn<int>("fresh");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("returned");

    QTest::newRow("90 stored and 30 new under 100") << 100 << 90 << 0 << 30 << 20 << 30;
    QTest::newRow("favourites outside the count") << 50 << 10 << 200 << 5 << 0 << 5;
    QTest::newRow("a full channel") << 50 << 50 << 3 << 10 << 10 << 10;
    QTest::newRow("more new than the limit") << 50 << 5 << 0 << 60 << 5 << 50;
}

// Room is made oldest first, and after the add the channel holds the limit at most.
void tst_FeedCacheManager::room()
{
    QFETCH(int, limit);
    QFETCH(int, stored);
    QFETCH(int, favourites);
    QFETCH(int, fresh);
    QFETCH(int, deleted);
    QFETCH(int, returned);

    const QString channel = subscribe();
    storeMessages(channel, series("old", stored));
    storeFavourites(channel, favourites);
    FeedCacheManager* manager = cache(limit);
    const QList<FeedMessage> added = manager->updateFeedMessage(fetched(channel, series("new", fresh, 1000)));
    QCOMPARE(titles(added), titles(series("new", returned, 1000)));
    QCOMPARE(deletable(channel), stored - deleted);
    const QStringList kept = storedTitles(channel).filter(QStringLiteral("old"));
    QCOMPARE(kept, titles(series("old", stored).mid(deleted)));
    storeMessages(channel, added);
    QCOMPARE(deletable(channel), qMin(limit, stored - deleted + returned));
    QCOMPARE(storedTitles(channel).count(QStringLiteral("favourite")), favourites);
}

void tst_FeedCacheManager::changeSetting_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<int>("newLimit");

    const QString key = FeedCacheManager::CachePostsKey;
    QTest::newRow("lower, below the range") << 100 << key << QVariant(30) << true << 50;
    QTest::newRow("the limit held") << 50 << key << QVariant(50) << false << 50;
    QTest::newRow("below the range at its floor") << 50 << key << QVariant(10) << true << 50;
    QTest::newRow("higher") << 100 << key << QVariant(300) << true << 300;
    QTest::newRow("above the range at its top") << 500 << key << QVariant(700) << true << 500;
    QTest::newRow("lower, as text") << 100 << key << QVariant("55") << true << 55;
    QTest::newRow("whole number as a real") << 100 << key << QVariant(55.0) << true << 55;
    // Regression: text that is no number read as 0, hence 50, and trimmed every channel.
    QTest::newRow("not a number") << 100 << key << QVariant("abc") << false << 100;
    QTest::newRow("empty text") << 100 << key << QVariant("") << false << 100;
    QTest::newRow("a fraction") << 100 << key << QVariant(60.5) << false << 100;
    QTest::newRow("a flag") << 100 << key << QVariant(true) << false << 100;
    QTest::newRow("a list") << 100 << key << QVariant(QStringList{"60", "70"}) << false << 100;
    QTest::newRow("other cache key") << 100 << QStringLiteral("Cache/size") << QVariant(60) << false << 100;
    QTest::newRow("key in other case") << 100 << QStringLiteral("Cache/Posts") << QVariant(60) << false << 100;
}

// Two channels of 60 and 20 deletable messages: a lower limit trims each down to it.
void tst_FeedCacheManager::changeSetting()
{
    QFETCH(int, limit);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, changed);
    QFETCH(int, newLimit);

    const QString big = subscribe();
    const QString small = subscribe();
    storeMessages(big, series("b", 60));
    storeMessages(small, series("s", 20));
    storeFavourites(big, 2);
    FeedCacheManager* manager = cache(limit);
    takeLog();
    QCOMPARE(manager->changeCacheSetting(key, value), changed);
    QCOMPARE(takeLog().contains(QStringLiteral("Cache settings are not changed")), !changed);
    QCOMPARE(manager->maxPosts(), newLimit);
    const int kept = changed && newLimit < limit ? qMin(60, newLimit) : 60;
    QCOMPARE(deletable(big), kept);
    QCOMPARE(storedTitles(big).filter(QStringLiteral("b")), titles(series("b", 60).mid(60 - kept)));
    QCOMPARE(storedTitles(big).count(QStringLiteral("favourite")), 2);
    QCOMPARE(deletable(small), 20);
}

void tst_FeedCacheManager::loadedLimit_data()
{
    QTest::addColumn<QVariant>("stored"); // invalid: the key is absent
    QTest::addColumn<int>("limit");

    QTest::newRow("absent") << QVariant() << 100;
    QTest::newRow("above the range") << QVariant(1000) << 500;
    QTest::newRow("zero") << QVariant(0) << 50;
    QTest::newRow("negative") << QVariant(-5) << 50;
    QTest::newRow("just above the floor") << QVariant(51) << 51;
    QTest::newRow("the top") << QVariant(500) << 500;
    QTest::newRow("digits") << QVariant("75") << 75;
    // Regression: a stored value that is no number loaded as 0, hence 50.
    QTest::newRow("not a number") << QVariant("abc") << 100;
    QTest::newRow("empty") << QVariant("") << 100;
}

void tst_FeedCacheManager::loadedLimit()
{
    QFETCH(QVariant, stored);
    QFETCH(int, limit);

    {
        QSettings settings(QStringLiteral("virelon"), QStringLiteral("settings"));
        settings.remove(FeedCacheManager::CachePostsKey);
        if (stored.isValid())
            settings.setValue(FeedCacheManager::CachePostsKey, stored);
    }
    FeedCacheManager* manager = FeedCacheManager::instance();
    QVERIFY(manager);
    QCOMPARE(int(manager->maxPosts()), limit);
    QVERIFY(takeLog().contains(QStringLiteral("Max Posts Limit per feed:  %1").arg(limit)));
}

void tst_FeedCacheManager::orphanFilesAtCreation_data()
{
    QTest::addColumn<QString>("localPath");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("links"); // "link>target"
    QTest::addColumn<QStringList>("gone");
    QTest::addColumn<QStringList>("kept");

    const QStringList none;
    QTest::newRow("inside, with its partial download")
        << "{in}/a.mp3" << QStringList{"{in}/a.mp3", "{in}/a.mp3.part", "{in}/b.mp3"} << none
        << QStringList{"{in}/a.mp3", "{in}/a.mp3.part"} << QStringList{"{in}/b.mp3"};
    QTest::newRow("inside, download unfinished") << "{in}/a.mp3" << QStringList{"{in}/a.mp3.part"} << none
                                                 << QStringList{"{in}/a.mp3.part"} << none;
    // Regression: any path the store held was removed, a user's own file too.
    QTest::newRow("outside") << "{out}/mine.txt" << QStringList{"{out}/mine.txt", "{out}/mine.txt.part"} << none
                             << none << QStringList{"{out}/mine.txt", "{out}/mine.txt.part"};
    QTest::newRow("through a link out of the directory")
        << "{in}/away/mine.txt" << QStringList{"{out}/mine.txt"} << QStringList{"{in}/away>{out}"} << none
        << QStringList{"{out}/mine.txt"};
}

// The files of orphans found at creation go, or stay, before instance() returns; a call of
// instance() from inside the announcement gets null instead of a deadlock.
void tst_FeedCacheManager::orphanFilesAtCreation()
{
    QFETCH(QString, localPath);
    QFETCH(QStringList, files);
    QFETCH(QStringList, links);
    QFETCH(QStringList, gone);
    QFETCH(QStringList, kept);

    for (const QString& path : files)
        file(path);
    for (const QString& link : links) {
        const QString target = place(link.section(QLatin1Char('>'), 1));
        QVERIFY(QDir().mkpath(target));
        QVERIFY(QFile::link(target, place(link.section(QLatin1Char('>'), 0, 0))));
    }
    FeedEnclosure orphan;
    orphan.setRemoteUrl(Site + QStringLiteral("a.mp3"));
    orphan.setLocalUrl(place(localPath));
    QVERIFY(store()->addEnclosures({orphan}, QStringLiteral("urn:uuid:gone")));

    CreationProbe probe;
    connect(store(), SIGNAL(enclosuresToBeDeleted(QList<FeedEnclosure>&)), &probe,
            SLOT(handleEnclosureDeletion(QList<FeedEnclosure>&)));
    takeLog();
    QVERIFY(FeedCacheManager::instance());
    QVERIFY(probe.called);
    QVERIFY(!probe.seen);
    QVERIFY(takeLog().contains(QStringLiteral("Cache manager requested while it is being made")));
    for (const QString& path : gone)
        QVERIFY2(!QFileInfo::exists(place(path)), qPrintable(path));
    for (const QString& path : kept)
        QVERIFY2(QFileInfo::exists(place(path)), qPrintable(path));
    std::unique_ptr<QSparqlResult> left(_raw->exec(QSparqlQuery(QStringLiteral("SELECT ?e WHERE { ?e a mfo:Enclosure }"))));
    QVERIFY(left && !left->hasError());
    QCOMPARE(left->size(), 0);
}

void tst_FeedCacheManager::trimmedMessagesTakeTheirFiles()
{
    const QString channel = subscribe();
    QList<FeedMessage> messages = series("m", 60);
    const QString oldest = file(QStringLiteral("{in}/oldest.mp3"));
    const QString newest = file(QStringLiteral("{in}/newest.mp3"));
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(Site + QStringLiteral("oldest.mp3"));
    enclosure.setLocalUrl(oldest);
    messages[0].setEnclosures({enclosure});
    enclosure.setRemoteUrl(Site + QStringLiteral("newest.mp3"));
    enclosure.setLocalUrl(newest);
    messages[59].setEnclosures({enclosure});
    storeMessages(channel, messages);
    FeedCacheManager* manager = cache(100);
    QVERIFY(manager->changeCacheSetting(FeedCacheManager::CachePostsKey, 50));
    QCOMPARE(deletable(channel), 50);
    QVERIFY(!QFile::exists(oldest));
    QVERIFY(QFile::exists(newest));
}

// Regression: items with neither link nor date were all new at every refresh.
void tst_FeedCacheManager::linklessUndatedRefreshes()
{
    const QString channel = subscribe();
    QList<FeedMessage> items;
    for (int i = 0; i < 10; ++i)
        items.append(post(QStringLiteral("item %1").arg(i)));
    FeedCacheManager* manager = cache(100);
    for (int refresh = 0; refresh < 3; ++refresh)
        storeMessages(channel, manager->updateFeedMessage(fetched(channel, items)));
    QCOMPARE(storedTitles(channel).size(), 10);
    items.prepend(post(QStringLiteral("item 10")));
    const QList<FeedMessage> added = manager->updateFeedMessage(fetched(channel, items));
    QCOMPARE(titles(added), QStringList{"item 10"});
    storeMessages(channel, added);
    QCOMPARE(storedTitles(channel).size(), 11);
}

// Regression: a failed read was taken for "nothing stored": every candidate counted as new.
void tst_FeedCacheManager::failedReadDeletesNothing()
{
    const QString channel = subscribe();
    storeMessages(channel, series("m", 100));
    const QStringList before = storedTitles(channel);
    QCOMPARE(before.size(), 100);
    FeedCacheManager* manager = cache(100);
    _endpoint->stop();
    takeLog();
    const QList<FeedMessage> linkedFetch = series("m", 10, 5000);
    bool ok = true;
    QVERIFY(manager->updateFeedMessage(fetched(channel, linkedFetch), &ok).isEmpty());
    QVERIFY(!ok);
    ok = true;
    QVERIFY(manager->updateFeedMessage(fetched(channel, {post("undated")}), &ok).isEmpty());
    QVERIFY(!ok);
    QCOMPARE(takeLog().filter(QStringLiteral("Store read failed, no message deleted or added for")).size(), 2);
    QVERIFY(manager->changeCacheSetting(FeedCacheManager::CachePostsKey, 50));
    QVERIFY(_endpoint->start());
    QCOMPARE(storedTitles(channel), before);
}

VIRELON_TEST_MAIN(tst_FeedCacheManager)
#include "tst_feedcachemanager.moc"
