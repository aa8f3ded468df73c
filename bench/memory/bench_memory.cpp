#include "benchdaemon.h"
#include "httpfixture.h"
#include "refreshdaemon.h"
#include "refreshends.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDateTime>
#include <QLocale>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>

// The daemon's resident growth on a store of its own: per editChannel call (a title edit of a
// stored channel: a store read and a write) against per conf call (the same D-Bus road, no
// store), and per refresh round of new content against per round where every feed answers 304.
// Growth is the rise of the daemon's RssAnon after warm-up, read once it has answered a call
// after the work: anonymous pages only, so that library pages mapped in by first use do not
// count. The daemon runs with one malloc arena and GLib's slices on plain malloc, so that what it
// frees is reused rather than parked per thread or per size: a rise that stays is memory still
// held (or a heap too fragmented to reuse what was freed), not a pool filling.
using BenchDaemon::callDaemon;
using BenchDaemon::out;
using BenchDaemon::statusKb;

namespace {

const int Calls = 10000;
const int WarmUpCalls = 1000;
const int Feeds = 40;
const int NewItems = 8;
// A feed shows its latest items, those of its last two rounds: half of them are stored already.
const int ShownItems = 2 * NewItems;
const int WarmUpRounds = 3;
const int Rounds = 30;
// The first and the last rounds set against each other for a levelling-off.
const int Span = Rounds / 3;
const double CallTargetBytes = 40;
const double RoundTargetBytes = 10240;
const int WaitMs = 60000;
// A 1x1 grey PNG.
const QByteArray Png = QByteArray::fromHex(
    "89504e470d0a1a0a0000000d49484452000000010000000108000000003a7e9b550000000a49444154789c636000000002000148afa471"
    "0000000049454e44ae426082");

QByteArray httpDate(int minutes)
{
    const QDateTime time = QDateTime(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC).addSecs(60LL * minutes);
    return QLocale::c().toString(time, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

// RSS feeds on the server that gain NewItems items each time they are published, each item with
// an image in its description and every fourth with an enclosure.
class FeedSet
{
public:
    explicit FeedSet(HttpFixture* server) : _server(server)
    {
        for (int feed = 0; feed < Feeds; ++feed)
            _links << server->url(QStringLiteral("/feed/%1.xml").arg(feed)).toString();
        publish();
    }

    const QStringList& links() const { return _links; }

    void publish()
    {
        _items += NewItems;
        for (int feed = 0; feed < Feeds; ++feed) {
            QByteArray body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Feed "
                              + QByteArray::number(feed) + "</title><link>http://site.example/</link>\n";
            for (int number = _items - 1; number >= std::max(0, _items - ShownItems); --number)
                body += item(feed, number);
            HttpFixture::Reply reply;
            reply.body = body + "</channel></rss>\n";
            reply.addHeader("Content-Type", "application/rss+xml");
            reply.lastModified = httpDate(_items);
            _server->setReply(QStringLiteral("/feed/%1.xml").arg(feed), reply);
        }
    }

private:
    QByteArray item(int feed, int number)
    {
        const QString id = QStringLiteral("%1/%2").arg(feed).arg(number);
        const QString image = QStringLiteral("/image/%1.png").arg(id);
        _server->serve(image, Png, "image/png");
        QByteArray text = "<item><title>Item " + id.toLatin1() + "</title><link>http://site.example/" + id.toLatin1()
                          + "</link><pubDate>" + httpDate(number) + "</pubDate><description><![CDATA[<p>What happened "
                          + "today, told in a few words.</p><img src=\"" + _server->url(image).toEncoded()
                          + "\" alt=\"picture\"/>]]></description>";
        if (number % 4 == 0)
            text += "<enclosure url=\"" + _server->url(QStringLiteral("/media/%1.mp3").arg(id)).toEncoded()
                    + "\" length=\"24000000\" type=\"audio/mpeg\"/>";
        return text + "</item>\n";
    }

    HttpFixture* _server;
    QStringList _links;
    int _items = 0;
};

// Counts the daemon's editChannelStatus signals and the failures among them.
class EditStatuses : public QObject
{
    Q_OBJECT

public:
    EditStatuses() { BenchDaemon::listen(QStringLiteral("editChannelStatus"), this, SLOT(received(QString,int))); }

    // Runs the event loop until `count` have come in all; false after a minute or on a failure.
    bool waitFor(int count)
    {
        return BenchDaemon::waitUntil([&] { return _count >= count; }, WaitMs) && _failures == 0;
    }

private slots:
    void received(const QString&, int code)
    {
        ++_count;
        _failures += code != 0;
    }

private:
    int _count = 0;
    int _failures = 0;
};

qint64 anonBytes(qint64 pid)
{
    return statusKb(pid, "RssAnon") * 1024;
}

// The daemon's RssAnon after each of `count` steps, the first reading before them; false when a
// step failed.
bool readings(qint64 pid, int count, const std::function<bool(int)>& step, QVector<qint64>* bytes)
{
    bytes->append(anonBytes(pid));
    for (int i = 0; i < count; ++i) {
        if (!step(i))
            return false;
        bytes->append(anonBytes(pid));
    }
    return true;
}

double perStep(const QVector<qint64>& bytes, int from, int to)
{
    return double(bytes.at(to) - bytes.at(from)) / (to - from);
}

// Bytes per call over Calls calls after WarmUpCalls; false when a call failed.
bool bytesPerCall(qint64 pid, const std::function<bool(int)>& call, double* bytes)
{
    for (int i = 0; i < WarmUpCalls; ++i) {
        if (!call(i))
            return false;
    }
    const qint64 before = anonBytes(pid);
    for (int i = WarmUpCalls; i < WarmUpCalls + Calls; ++i) {
        if (!call(i))
            return false;
    }
    *bytes = double(anonBytes(pid) - before) / Calls;
    return true;
}

// A refresh of every channel, ended by all their ends and an answer after them.
bool refreshRound(const QStringList& channels, RefreshEnds* ends, int accepted)
{
    ends->clear();
    return callDaemon(QStringLiteral("refresh"), {channels}) && ends->waitFor(channels.size(), accepted)
           && callDaemon(QStringLiteral("conf"), {});
}

// The reading sees whole pages: a reference under one page over the count is taken as that page,
// and the ratio is then at least the one given.
QString ratio(double value, double reference, int count)
{
    const double page = 4096.0 / count;
    return (reference < page ? QStringLiteral(">= ") : QString())
           + QString::number(value / std::max(reference, page), 'f', 1);
}

void report(const QString& figure, int count, double bytes, const QString& reference, double referenceBytes,
            double target)
{
    out() << figure << " over " << count << ": " << QString::number(bytes, 'f', 1) << " B; " << reference << ": "
          << QString::number(referenceBytes, 'f', 1) << " B; " << ratio(bytes, referenceBytes, count)
          << " x the reference, " << QString::number(bytes / target, 'f', 2) << " x the target of " << target << " B"
          << (bytes <= target ? " ok" : " OVER") << Qt::endl;
}

// The channels of the feeds, subscribed and fetched; none when that failed.
QStringList subscribe(const FeedSet& feeds)
{
    RefreshEnds ends;
    if (!callDaemon(QStringLiteral("subscribe"), {feeds.links(), QStringLiteral("tamsil")}) || !ends.waitFor(Feeds))
        return QStringList();
    return ends.uris();
}

bool measureCalls(qint64 pid, const QString& channel)
{
    EditStatuses statuses;
    double confBytes = 0;
    double editBytes = 0;
    const auto conf = [](int) { return callDaemon(QStringLiteral("conf"), {}); };
    const auto edit = [&](int i) {
        const QVariantMap title{{QStringLiteral("2"), QStringLiteral("Title %1").arg(i)}};
        return callDaemon(QStringLiteral("editChannel"), {channel, title}) && statuses.waitFor(i + 1);
    };
    if (!bytesPerCall(pid, conf, &confBytes) || !bytesPerCall(pid, edit, &editBytes))
        return false;
    report(QStringLiteral("editChannel growth a call"), Calls, editBytes, QStringLiteral("conf"), confBytes,
           CallTargetBytes);
    return true;
}

bool measureRounds(qint64 pid, const QStringList& channels, FeedSet* feeds)
{
    RefreshEnds ends;
    const auto fresh = [&](int) {
        feeds->publish();
        return refreshRound(channels, &ends, -1);
    };
    const auto unchanged = [&](int) { return refreshRound(channels, &ends, 304); };
    for (int i = 0; i < WarmUpRounds; ++i) {
        if (!fresh(i) || !unchanged(i))
            return false;
    }
    QVector<qint64> same;
    QVector<qint64> added;
    if (!readings(pid, Rounds, unchanged, &same) || !readings(pid, Rounds, fresh, &added))
        return false;
    const double first = perStep(added, 0, Span);
    const double last = perStep(added, Rounds - Span, Rounds);
    report(QStringLiteral("refresh growth a round of new content"), Rounds, perStep(added, 0, Rounds),
           QStringLiteral("unchanged (304)"), perStep(same, 0, Rounds), RoundTargetBytes);
    out() << "new content, first " << Span << " rounds: " << QString::number(first, 'f', 0) << " B a round; last "
          << Span << ": " << QString::number(last, 'f', 0) << " B a round; " << ratio(last, first, Span)
          << " x the first" << Qt::endl;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // The daemon inherits them: see above.
    qputenv("MALLOC_ARENA_MAX", "1");
    qputenv("G_SLICE", "always-malloc");
    QCoreApplication app(argc, argv);
    if (!QDBusConnection::sessionBus().isConnected()) {
        out() << "No session bus: run under dbus-run-session -- " << argv[0] << Qt::endl;
        return 1;
    }
    QTemporaryDir dir;
    RefreshDaemon daemon(dir.path());
    if (!daemon.start())
        return 1;
    HttpFixture server;
    FeedSet feeds(&server);
    const QStringList channels = subscribe(feeds);
    if (channels.isEmpty()) {
        daemon.fail(QStringLiteral("the subscription failed"));
        return 1;
    }
    out() << "daemon's RssAnon growth, " << Feeds << " feeds of " << NewItems << " new items a round" << Qt::endl;
    if (!measureCalls(daemon.processId(), channels.first()) || !measureRounds(daemon.processId(), channels, &feeds)) {
        daemon.fail(QStringLiteral("a call or a refresh round failed"));
        return 1;
    }
    return 0;
}

#include "bench_memory.moc"
