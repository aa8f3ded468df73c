#pragma push_macro("signals")
#undef signals
#include <libtracker-sparql/tracker-sparql.h>
#pragma pop_macro("signals")

#include "feedtrackersparql.h"
#include "storeendpoint.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUuid>
#include <algorithm>
#include <functional>

// The store class against raw libtracker-sparql doing the same store work over the same
// endpoint, in one run; each figure is printed as the ratio layer / raw.
namespace {

const int Rounds = 3;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Best of the rounds, in milliseconds; prepare() runs untimed before each round.
double bestMs(const std::function<void(int)>& prepare, const std::function<void(int)>& work)
{
    double best = 1e300;
    for (int round = 0; round < Rounds; ++round) {
        prepare(round);
        QElapsedTimer timer;
        timer.start();
        work(round);
        best = std::min(best, timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents(); // releases the results
    }
    return best;
}

void report(const char* what, double layer, double raw, double target)
{
    const double ratio = layer / raw;
    out() << what << ": layer " << QString::number(layer, 'f', 1) << " ms, raw " << QString::number(raw, 'f', 1)
          << " ms, ratio " << QString::number(ratio, 'f', 2) << " (target <= " << target << ") "
          << (ratio <= target ? "ok" : "OVER") << Qt::endl;
}

class Raw
{
public:
    explicit Raw(const QString& service)
        : _connection(tracker_sparql_connection_bus_new(service.toUtf8().constData(), nullptr, nullptr, nullptr))
    {
    }
    ~Raw() { g_object_unref(_connection); }
    bool isValid() const { return _connection; }

    void update(const QByteArray& text)
    {
        GError* error = nullptr;
        tracker_sparql_connection_update(_connection, text.constData(), nullptr, &error);
        check(error);
    }
    QList<QByteArray> column(const QByteArray& text)
    {
        GError* error = nullptr;
        TrackerSparqlCursor* cursor = tracker_sparql_connection_query(_connection, text.constData(), nullptr, &error);
        check(error);
        QList<QByteArray> values;
        while (cursor && tracker_sparql_cursor_next(cursor, nullptr, nullptr))
            values.append(tracker_sparql_cursor_get_string(cursor, 0, nullptr));
        if (cursor)
            g_object_unref(cursor);
        return values;
    }
    int select(const QByteArray& text)
    {
        GError* error = nullptr;
        TrackerSparqlCursor* cursor = tracker_sparql_connection_query(_connection, text.constData(), nullptr, &error);
        check(error);
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
    static void check(GError* error)
    {
        if (!error)
            return;
        qFatal("raw query failed: %s", error->message);
    }
    TrackerSparqlConnection* _connection;
};

QString urn()
{
    return QStringLiteral("urn:uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QList<FeedEnclosure> enclosures(const QString& tag, int count)
{
    QList<FeedEnclosure> list;
    for (int i = 0; i < count; ++i) {
        FeedEnclosure enclosure;
        enclosure.setRemoteUrl(QStringLiteral("http://example.com/%1/file%2.mp3").arg(tag).arg(i));
        enclosure.setLocalUrl(QStringLiteral("/enclosures/%1/file%2.mp3").arg(tag).arg(i));
        enclosure.setMimeType(QStringLiteral("audio/mpeg"));
        enclosure.setTypeIcon(QStringLiteral("icon-audio"));
        enclosure.setType(FeedEnclosure::Optional);
        enclosure.setLength(1000 + i);
        list.append(enclosure);
    }
    return list;
}

// The raw texts of the same store work as addEnclosures: one look-up, one insert.
QPair<QByteArray, QByteArray> rawEnclosureTexts(const QList<FeedEnclosure>& list, const QString& parent)
{
    QByteArray links;
    QByteArray inserts;
    for (const FeedEnclosure& e : list) {
        links += '<' + e.remoteUrl().toUtf8() + "> ";
        inserts += "INSERT { <" + urn().toUtf8() + "> a mfo:Enclosure; mfo:remoteLink <" + e.remoteUrl().toUtf8()
                   + ">; mfo:localLink <" + e.localUrl().toUtf8() + ">; mfo:optional true; nie:contentSize "
                   + QByteArray::number(e.length()) + "; nie:mimeType \"audio/mpeg\"; nie:identifier 0; "
                   "mfo:groupDefault false; mfo:image \"icon-audio\"; nie:isLogicalPartOf <" + parent.toUtf8() + "> } ";
    }
    return {"SELECT ?e ?r WHERE { ?e a mfo:Enclosure; mfo:remoteLink ?r . VALUES ?r { " + links + "} }", inserts};
}

void benchAddEnclosures(FeedTrackerSparql* store, Raw* raw)
{
    QList<QList<FeedEnclosure>> layerLists;
    QList<QPair<QByteArray, QByteArray>> rawTexts;
    for (int round = 0; round < Rounds; ++round) {
        layerLists.append(enclosures(QStringLiteral("layer%1").arg(round), 1000));
        rawTexts.append(rawEnclosureTexts(enclosures(QStringLiteral("raw%1").arg(round), 1000), urn()));
    }
    const QString parent = urn();
    const double layer = bestMs([](int) {}, [&](int round) { store->addEnclosures(layerLists.at(round), parent); });
    const double direct = bestMs([](int) {}, [&](int round) {
        raw->select(rawTexts.at(round).first);
        raw->update(rawTexts.at(round).second);
    });
    report("addEnclosures, 1000 new", layer, direct, 1.2);
}

void benchEnclosureForUri(FeedTrackerSparql* store, Raw* raw)
{
    const QString parent = urn();
    store->addEnclosures(enclosures(QStringLiteral("lookup"), 100), parent);
    QStringList uris;
    for (const FeedEnclosure& e : store->enclosuresForMessage(parent))
        uris.append(e.uri());
    const QByteArray text =
        "select ?u ?rl ?ll ?i ?s ?d ?o ?icon ?m where {?u a mfo:Enclosure. OPTIONAL {?u mfo:remoteLink ?rl.} . "
        "OPTIONAL {?u mfo:localLink ?ll.} . OPTIONAL {?u nie:identifier ?i.} . OPTIONAL {?u nie:contentSize ?s.}. "
        "OPTIONAL {?u mfo:groupDefault ?d.}. OPTIONAL {?u mfo:optional ?o.}. OPTIONAL {?u mfo:image ?icon.}. "
        "OPTIONAL {?u nie:mimeType ?m.} FILTER (?u = <%1>)}";
    QList<QByteArray> rawTexts;
    for (const QString& uri : uris)
        rawTexts.append(QByteArray(text).replace("%1", uri.toUtf8()));
    const double layer = bestMs([](int) {}, [&](int) {
        for (const QString& uri : uris)
            store->enclosureForUri(uri);
    });
    const double direct = bestMs([](int) {}, [&](int) {
        for (const QByteArray& rawText : rawTexts)
            raw->select(rawText);
    });
    report("enclosureForUri, 100 calls", layer, direct, 1.2);
}

QList<FeedMessage> messages(const QString& tag, int count)
{
    QList<FeedMessage> list;
    for (int i = 0; i < count; ++i) {
        FeedMessage message;
        message.setTitle(QStringLiteral("Message %1").arg(i));
        message.setLink(QStringLiteral("http://example.com/%1/post%2").arg(tag).arg(i));
        message.setDescription(QStringLiteral("<p>Body of message %1</p>").arg(i).repeated(10));
        message.setSummary(QStringLiteral("Summary %1").arg(i));
        message.setPublishedDate(QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(i));
        message.setEnclosures(enclosures(QStringLiteral("%1/post%2").arg(tag).arg(i), 2));
        list.append(message);
    }
    return list;
}

QByteArray literal(const QString& text)
{
    return '"' + text.toUtf8().replace('\\', "\\\\").replace('"', "\\\"") + '"';
}

// The same triples as addMessages writes for new messages, as one raw update.
QByteArray rawMessagesText(const QList<FeedMessage>& list, const QString& channel)
{
    QByteArray text;
    for (const FeedMessage& m : list) {
        const QByteArray uri = urn().toUtf8();
        text += "INSERT { <" + uri + "> a mfo:FeedMessage; nie:isLogicalPartOf <" + channel.toUtf8() + ">; nie:title "
                + literal(m.title()) + "; nie:description " + literal(m.description()) + "; nie:subject "
                + literal(m.summary()) + "; mfo:downloadedTime \"2024-01-01T00:00:00Z\"^^xsd:dateTime; "
                "nie:contentCreated \"" + m.publishedDate().toString(Qt::ISODate).toUtf8() + "\"^^xsd:dateTime; "
                "nie:links <" + m.link().toUtf8() + "> } ";
        text += rawEnclosureTexts(m.enclosures(), QString::fromUtf8(uri)).second;
    }
    return text;
}

void benchAddMessages(FeedTrackerSparql* store, Raw* raw)
{
    QList<QList<FeedMessage>> layerLists;
    QList<QByteArray> rawTexts;
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://example.com/bench"));
    const QString channelUri = store->addChannel(channel);
    for (int round = 0; round < Rounds; ++round) {
        layerLists.append(messages(QStringLiteral("layer%1").arg(round), 1000));
        rawTexts.append(rawMessagesText(messages(QStringLiteral("raw%1").arg(round), 1000), channelUri));
    }
    const double layerNew = bestMs([](int) {}, [&](int round) { store->addMessages(layerLists.at(round), channelUri); });
    const double rawNew = bestMs([](int) {}, [&](int round) { raw->update(rawTexts.at(round)); });
    report("addMessages, 1000 new with 2 enclosures each", layerNew, rawNew, 1.5);

    QList<QByteArray> existence;
    for (const FeedMessage& m : layerLists.at(0))
        existence.append("SELECT ?message ?l WHERE { ?message a mfo:FeedMessage; nie:links ?l .FILTER(( ?l = <"
                         + m.link().toUtf8() + ">)).  } ");
    const double layerKnown = bestMs([](int) {}, [&](int) { store->addMessages(layerLists.at(0), channelUri); });
    const double rawKnown = bestMs([](int) {}, [&](int) {
        for (const QByteArray& text : existence)
            raw->select(text);
    });
    report("addMessages, the same 1000 again (all known)", layerKnown, rawKnown, 2.0);
}

// Unsubscribing a channel: its messages and their enclosures go, against one raw delete of the
// same nodes.
void benchDeleteChannel(FeedTrackerSparql* store, Raw* raw)
{
    QStringList layerChannels;
    QList<QByteArray> rawTexts;
    for (int round = 0; round < Rounds; ++round) {
        FeedChannel channel;
        channel.setLink(QStringLiteral("http://example.com/delete/layer%1").arg(round));
        layerChannels.append(store->addChannel(channel));
        store->addMessages(messages(QStringLiteral("delete-layer%1").arg(round), 1000), layerChannels.last());
        channel.setLink(QStringLiteral("http://example.com/delete/raw%1").arg(round));
        const QString rawChannel = store->addChannel(channel);
        store->addMessages(messages(QStringLiteral("delete-raw%1").arg(round), 1000), rawChannel);
        QByteArray text;
        const QByteArray channelIri = '<' + rawChannel.toUtf8() + '>';
        for (const QByteArray& node : raw->column("SELECT ?n WHERE { { ?n nie:isLogicalPartOf " + channelIri + " } UNION { ?n "
                                                  "nie:isLogicalPartOf ?m . ?m nie:isLogicalPartOf " + channelIri + " } }"))
            text += "DELETE { <" + node + "> a rdfs:Resource } WHERE { <" + node + "> a rdfs:Resource } ";
        rawTexts.append(text + "DELETE { <" + rawChannel.toUtf8() + "> a rdfs:Resource } WHERE { <" + rawChannel.toUtf8() + "> a mfo:FeedChannel }");
    }
    const double layer = bestMs([](int) {}, [&](int round) { store->deleteChannel(layerChannels.at(round)); });
    const double direct = bestMs([](int) {}, [&](int round) { raw->update(rawTexts.at(round)); });
    report("deleteChannel, 1000 messages with 2 enclosures each", layer, direct, 2.0);
}

// Reading a channel on a store of 200 channels with 20 messages each (two look-ups of its own
// node), against a raw look-up of one of its properties.
void benchChannelForUri(FeedTrackerSparql* store, Raw* raw)
{
    QStringList channels;
    for (int i = 0; i < 200; ++i) {
        FeedChannel channel;
        channel.setLink(QStringLiteral("http://example.com/read/%1").arg(i));
        channel.setTitle(QStringLiteral("Channel %1").arg(i));
        channels << store->addChannel(channel);
        store->addMessages(messages(QStringLiteral("read-%1").arg(i), 20), channels.last());
    }
    const double layer = bestMs([](int) {}, [&](int) {
        for (const QString& uri : channels.mid(0, 100))
            store->channelForUri(uri);
    });
    const double direct = bestMs([](int) {}, [&](int) {
        for (const QString& uri : channels.mid(0, 100))
            raw->select("SELECT ?t WHERE { <" + uri.toUtf8() + "> nie:title ?t }");
    });
    report("channelForUri, 100 calls among 200 channels and 4000 messages", layer, direct, 3.0);
    store->deleteAllChannels();
}

// Writing back 100 refreshed channels whose title and feed time did not change, against a raw
// rewrite of the one property that does (the time of the refresh).
void benchUpdateChannel(FeedTrackerSparql* store, Raw* raw)
{
    QList<FeedChannel> channels;
    for (int i = 0; i < 100; ++i) {
        FeedChannel channel;
        channel.setLink(QStringLiteral("http://example.com/update/%1").arg(i));
        channel.setTitle(QStringLiteral("Channel %1").arg(i));
        channel.setLastModifiedTime(QStringLiteral("Sat, 01 Jun 2024 12:00:00 GMT"));
        channel.setUri(store->addChannel(channel));
        store->addMessages(messages(QStringLiteral("update-%1").arg(i), 20), channel.uri());
        store->updateChannel(channel);
        channels << channel;
    }
    const double layer = bestMs([](int) {}, [&](int) {
        for (const FeedChannel& channel : qAsConst(channels))
            store->updateChannel(channel);
    });
    const double direct = bestMs([](int) {}, [&](int) {
        for (const FeedChannel& channel : qAsConst(channels)) {
            const QByteArray node = "<" + channel.uri().toUtf8() + ">";
            raw->update("DELETE { " + node + " nie:contentLastModified ?t } WHERE { " + node
                        + " nie:contentLastModified ?t } INSERT { " + node + " nie:contentLastModified '"
                        + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + "'^^xsd:dateTime }");
        }
    });
    report("updateChannel of 100 unchanged channels", layer, direct, 2.0);
    store->deleteAllChannels();
}

// A round of refreshes written back as the daemon writes them: for each of 1000 new channels,
// the read of what it holds and one update with its 60 new messages, against a raw insert of the
// same messages (the store's own floor). The first and the last tenth of the round tell whether a
// feed costs more as the store fills.
void benchRefreshRound(FeedTrackerSparql* store, Raw* raw)
{
    const int feeds = 1000;
    const int tenth = feeds / 10;
    double layer[2] = {0, 0};
    double direct[2] = {0, 0};
    for (int i = 0; i < feeds; ++i) {
        FeedChannel channel;
        channel.setLink(QStringLiteral("http://example.com/round/%1").arg(i));
        channel.setUri(store->addChannel(channel));
        channel.setTitle(QStringLiteral("Channel %1").arg(i));
        const QList<FeedMessage> fresh = messages(QStringLiteral("round-%1").arg(i), 60);
        const QByteArray rawText = rawMessagesText(messages(QStringLiteral("round-raw-%1").arg(i), 60), channel.uri());
        QElapsedTimer timer;
        timer.start();
        bool written = false;
        store->refreshChannel(channel, store->storedChannel(channel.uri()), fresh, &written);
        const double layerMs = timer.nsecsElapsed() / 1e6;
        timer.restart();
        raw->update(rawText);
        const int part = i < tenth ? 0 : i >= feeds - tenth ? 1 : -1;
        if (part >= 0) {
            layer[part] += layerMs / tenth;
            direct[part] += timer.nsecsElapsed() / 1e6 / tenth;
        }
        QCoreApplication::processEvents();
    }
    report("refresh of a feed of 60 new items, first tenth of 1000 feeds", layer[0], direct[0], 1.5);
    report("refresh of a feed of 60 new items, last tenth of 1000 feeds", layer[1], direct[1], 1.5);
    store->deleteAllChannels();
}

// Unsubscribing everything: 200 channels of 20 messages each, against raw deletes of every
// channel, message and enclosure node.
void benchDeleteAllChannels(FeedTrackerSparql* store, Raw* raw)
{
    const int channels = 200;
    const auto fill = [&](const QString& tag) {
        for (int i = 0; i < channels; ++i) {
            FeedChannel channel;
            channel.setLink(QStringLiteral("http://example.com/all/%1/%2").arg(tag).arg(i));
            store->addMessages(messages(QStringLiteral("all-%1-%2").arg(tag).arg(i), 20), store->addChannel(channel));
        }
    };
    int round = 0;
    const double layer = bestMs([&](int) { fill(QStringLiteral("layer%1").arg(round++)); },
                                [&](int) { store->deleteAllChannels(); });
    // The store's quickest way: every node of each class in one statement.
    const double direct = bestMs([&](int) { fill(QStringLiteral("raw%1").arg(round++)); },
                                 [&](int) {
                                     raw->update("DELETE { ?n a rdfs:Resource } WHERE { ?n a mfo:FeedChannel } "
                                                 "DELETE { ?n a rdfs:Resource } WHERE { ?n a mfo:FeedMessage } "
                                                 "DELETE { ?n a rdfs:Resource } WHERE { ?n a mfo:Enclosure }");
                                 });
    report("deleteAllChannels, 200 channels of 20 messages with 2 enclosures each", layer, direct, 2.0);
}

} // namespace

// Arguments name the benchmarks to run (addEnclosures, enclosureForUri, addMessages, deleteChannel,
// channelForUri, updateChannel, deleteAllChannels, refreshRound); none runs all.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QTemporaryDir dir;
    StoreEndpoint endpoint(dir.filePath(QStringLiteral("store")));
    if (!endpoint.start()) {
        out() << "No store service: run on a session bus (dbus-run-session -- " << argv[0] << ")" << Qt::endl;
        return 1;
    }
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    Raw raw(endpoint.serviceName());
    if (!raw.isValid())
        return 1;
    const QStringList chosen = app.arguments().mid(1);
    const QList<QPair<QString, void (*)(FeedTrackerSparql*, Raw*)>> benchmarks{
        {QStringLiteral("enclosureForUri"), benchEnclosureForUri},
        {QStringLiteral("addEnclosures"), benchAddEnclosures},
        {QStringLiteral("addMessages"), benchAddMessages},
        {QStringLiteral("deleteChannel"), benchDeleteChannel},
        {QStringLiteral("channelForUri"), benchChannelForUri},
        {QStringLiteral("updateChannel"), benchUpdateChannel},
        {QStringLiteral("deleteAllChannels"), benchDeleteAllChannels},
        {QStringLiteral("refreshRound"), benchRefreshRound}};
    for (const auto& benchmark : benchmarks) {
        if (chosen.isEmpty() || chosen.contains(benchmark.first))
            benchmark.second(store, &raw);
    }
    FeedTrackerSparql::releaseInstance();
    return 0;
}
