#pragma push_macro("signals")
#undef signals
#include <libtracker-sparql/tracker-sparql.h>
#pragma pop_macro("signals")

#include "feedcachemanager.h"
#include "feedchannel.h"
#include "feedtrackersparql.h"
#include "storeendpoint.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>
#include <algorithm>
#include <functional>

// The cache manager against the raw libtracker-sparql reads it cannot do without, over the same
// endpoint in one run; each figure is printed as the ratio cache / raw.
namespace {

const int Rounds = 15;
const int TrimRounds = 3;
const int Stored = 500;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

double elapsedMs(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    const double ms = timer.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents(); // releases the results
    return ms;
}

// Best of the rounds of each, in milliseconds, the two taking turns so that both meet the
// same load of a shared machine.
QPair<double, double> bestOfBoth(const std::function<void()>& layer, const std::function<void()>& raw)
{
    QPair<double, double> best(1e300, 1e300);
    for (int round = 0; round < Rounds; ++round) {
        best.first = std::min(best.first, elapsedMs(layer));
        best.second = std::min(best.second, elapsedMs(raw));
    }
    return best;
}

// Best of the rounds, in milliseconds; prepare() runs untimed before each round.
double bestMs(const std::function<void()>& prepare, const std::function<void()>& work)
{
    double best = 1e300;
    for (int round = 0; round < TrimRounds; ++round) {
        prepare();
        best = std::min(best, elapsedMs(work));
    }
    return best;
}

void report(const char* what, const char* reference, QPair<double, double> times, double target = 0)
{
    const double layer = times.first;
    const double raw = times.second;
    const double ratio = layer / raw;
    out() << what << ": " << QString::number(layer, 'f', 1) << " ms, " << reference << ' '
          << QString::number(raw, 'f', 1) << " ms, ratio " << QString::number(ratio, 'f', 2);
    if (target > 0)
        out() << " (target <= " << target << ") " << (ratio <= target ? "ok" : "OVER");
    out() << Qt::endl;
}

// Reads every column of every row as text, as a caller that uses the answer must.
class Raw
{
public:
    explicit Raw(const QString& service)
        : _connection(tracker_sparql_connection_bus_new(service.toUtf8().constData(), nullptr, nullptr, nullptr))
    {
    }
    ~Raw() { g_object_unref(_connection); }
    bool isValid() const { return _connection; }

    int select(const QByteArray& text)
    {
        GError* error = nullptr;
        TrackerSparqlCursor* cursor = tracker_sparql_connection_query(_connection, text.constData(), nullptr, &error);
        if (error)
            qFatal("raw query failed: %s", error->message);
        int rows = 0;
        while (cursor && tracker_sparql_cursor_next(cursor, nullptr, nullptr)) {
            for (int i = 0; i < tracker_sparql_cursor_get_n_columns(cursor); ++i)
                tracker_sparql_cursor_get_string(cursor, i, nullptr);
            ++rows;
        }
        if (cursor)
            g_object_unref(cursor);
        return rows;
    }

private:
    TrackerSparqlConnection* _connection;
};

QList<FeedMessage> messages(const QString& tag, int count, bool linkedAndDated)
{
    QList<FeedMessage> list;
    for (int i = 0; i < count; ++i) {
        FeedMessage message;
        message.setTitle(QStringLiteral("%1 message %2").arg(tag).arg(i));
        message.setDescription(QStringLiteral("<p>Body of message %1, formatted as stored.</p>").arg(i).repeated(20));
        message.setSummary(QStringLiteral("Summary %1").arg(i));
        if (linkedAndDated) {
            message.setLink(QStringLiteral("http://example.com/%1/post%2").arg(tag).arg(i));
            message.setPublishedDate(QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(i));
        }
        list.append(message);
    }
    return list;
}

FeedChannel channelWith(FeedTrackerSparql* store, const QString& tag, const QList<FeedMessage>& stored)
{
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://example.com/%1/feed").arg(tag));
    channel.setUri(store->addChannel(channel));
    QList<FeedMessage> fetched = stored;
    store->addMessages(stored, channel.uri());
    channel.setMessages(fetched);
    return channel;
}

QByteArray channelIri(const FeedChannel& channel)
{
    return '<' + channel.uri().toUtf8() + '>';
}

// A refresh that brings nothing new: the stored links are the one read it needs.
void benchLinked(FeedTrackerSparql* store, FeedCacheManager* cache, Raw* raw)
{
    const FeedChannel channel = channelWith(store, QStringLiteral("linked"), messages(QStringLiteral("linked"), Stored, true));
    const QByteArray links = "SELECT ?links WHERE {?u a mfo:FeedMessage. ?u nie:isLogicalPartOf " + channelIri(channel)
                             + ".  OPTIONAL {?u nie:links ?links .} }";
    report("updateFeedMessage, 500 stored, the same 500 fetched with links", "stored links read",
           bestOfBoth([&] { cache->updateFeedMessage(channel); }, [&] { raw->select(links); }), 1.2);
}

// Neither links nor dates: the newest date (none) and the stored texts are the reads it needs.
void benchLinkless(FeedTrackerSparql* store, FeedCacheManager* cache, Raw* raw)
{
    const FeedChannel channel =
        channelWith(store, QStringLiteral("linkless"), messages(QStringLiteral("linkless"), Stored, false));
    const QByteArray latest = "SELECT ?pubDate WHERE {?u a mfo:FeedMessage. ?u nie:isLogicalPartOf " + channelIri(channel)
                              + ".  OPTIONAL {?u nie:contentCreated ?pubDate .} }ORDER BY DESC(?pubDate) LIMIT 1";
    const QByteArray texts = "SELECT ?t ?d WHERE {?u a mfo:FeedMessage; nie:isLogicalPartOf " + channelIri(channel)
                             + " . OPTIONAL {?u nie:title ?t .} OPTIONAL {?u nie:description ?d .} }";
    const auto reads = [&] {
        raw->select(latest);
        raw->select(texts);
    };
    report("updateFeedMessage, 500 stored, the same 500 fetched without link or date",
           "newest date and stored texts read", bestOfBoth([&] { cache->updateFeedMessage(channel); }, reads), 1.2);
}

// Lowering the limit trims a channel in one call that checks each message for another channel
// that holds it, against the store's list form that checks nothing.
void benchTrim(FeedTrackerSparql* store, FeedCacheManager* cache)
{
    const int trimmed = 400;
    int round = 0;
    FeedChannel channel;
    const double layer = bestMs(
        [&] {
            const QString tag = QStringLiteral("trim%1").arg(++round);
            channel = channelWith(store, tag, messages(tag, trimmed + 50, true));
            cache->changeCacheSetting(FeedCacheManager::CachePostsKey, trimmed + 50);
        },
        [&] { cache->changeCacheSetting(FeedCacheManager::CachePostsKey, 50); });
    QList<QUrl> uris;
    const double batch = bestMs(
        [&] {
            const QString tag = QStringLiteral("batch%1").arg(++round);
            channel = channelWith(store, tag, messages(tag, trimmed, true));
            uris.clear();
            for (const QString& uri : store->deletableMessages(channel.uri(), trimmed))
                uris.append(QUrl(uri));
        },
        [&] { store->deleteMessages(uris); });
    report("trimming 400 messages through the posts limit", "deleteMessages(QList<QUrl>)", {layer, batch}, 2.0);
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    qputenv("HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    StoreEndpoint endpoint(dir.filePath(QStringLiteral("store")));
    if (!endpoint.start()) {
        out() << "No store service: run on a session bus (dbus-run-session -- " << argv[0] << ")" << Qt::endl;
        return 1;
    }
    Raw raw(endpoint.serviceName());
    if (!raw.isValid())
        return 1;
    QSettings(QStringLiteral("virelon"), QStringLiteral("settings"))
        .setValue(FeedCacheManager::CachePostsKey, FeedCacheManager::MaximumMaxPosts);
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    FeedCacheManager* cache = FeedCacheManager::instance();
    benchLinked(store, cache, &raw);
    benchLinkless(store, cache, &raw);
    benchTrim(store, cache);
    FeedCacheManager::releaseInstance();
    FeedTrackerSparql::releaseInstance();
    return 0;
}

