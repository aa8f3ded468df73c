#include "benchdaemon.h"
#include "feedcorpus.h"
#include "httpfixture.h"
#include "loopwaits.h"
#include "newsboat.h"
#include "refreshdaemon.h"
#include "refreshends.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <limits>

// Refreshes through the real daemon, its plug-in and a store of its own on the session bus, in
// three parts, each run a few times with the best counting (memory: the worst seen).
// - corpus: a cold round (the feeds subscribed in one call, timed to the last end of a refresh)
//   and an unchanged one, against Debian's newsboat reloading the same feeds from the same server
//   twice with one reload thread and a fresh cache, in the same run;
// - large-feed: the longest wait for an answer to conf while the daemon handles one feed of
//   100 000 items;
// - many-uris: the time to answer a refresh of 10 000 stored channels, and of 10 000 URIs of
//   channels the store does not hold.
using BenchDaemon::callDaemon;
using BenchDaemon::out;
using BenchDaemon::statusKb;

namespace {

const double Unmeasured = std::numeric_limits<double>::max();

// The scale run answers to the stricter target.
const int ScaleFeeds = 1000;
const double ColdTarget = 2.0;
const double ScaleColdTarget = 1.0;
const double UnchangedTarget = 0.25;
const double TenthsTarget = 1.5;
const double ConfWaitTargetMs = 1000;
const double ManyUrisTargetMs = 2000;
const qint64 IdleTargetKb = 16 * 1024;
const qint64 AfterTargetKb = 30 * 1024;
const qint64 PluginTargetKb = 64 * 1024;

struct Options {
    int feeds = 100;
    int itemsPerFeed = 0;
    int runs = 3;
    bool keep = false;
    bool corpus = true;
    bool largeFeed = true;
    bool manyUris = true;
};

struct Figures {
    double coldMs = Unmeasured;
    double unchangedMs = Unmeasured;
    // Per feed, between feed ends, in the best cold round.
    double firstTenthMs = 0;
    double lastTenthMs = 0;
    double newsboatMs = Unmeasured;
    double newsboatSecondMs = Unmeasured;
    QString newsboatUnread;
    qint64 idleKb = 0;
    qint64 afterKb = 0;
    qint64 idleAnonKb = 0;
    qint64 afterAnonKb = 0;
    qint64 pluginKb = 0;
    double confWaitMs = Unmeasured;
    double largeFeedMs = Unmeasured;
    LoopWaits::ManyUriAnswers manyUris = {Unmeasured, Unmeasured, Unmeasured};
};

// The highest peak of any child of a process while it is watched: the plug-in comes and goes.
class ChildPeak : public QObject
{
public:
    explicit ChildPeak(qint64 parentPid) : _parent(parentPid)
    {
        connect(&_timer, &QTimer::timeout, this, &ChildPeak::sample);
        _timer.start(25);
    }
    qint64 peakKb() const { return _peak; }
    void sample()
    {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(_parent));
        if (!children.open(QIODevice::ReadOnly))
            return;
        for (const QByteArray& pid : children.readAll().simplified().split(' ')) {
            if (!pid.isEmpty())
                _peak = std::max(_peak, statusKb(pid.toLongLong(), "VmHWM"));
        }
    }

private:
    qint64 _parent;
    qint64 _peak = 0;
    QTimer _timer;
};

// The time between feed ends over the first and over the last tenth of a round, per feed: the
// start-up before the first end counts in neither.
void tenths(const QVector<double>& ends, double* firstMs, double* lastMs)
{
    const int tenth = std::max(1, int(ends.size()) / 10);
    *firstMs = (ends.at(tenth) - ends.first()) / tenth;
    *lastMs = (ends.last() - ends.at(ends.size() - 1 - tenth)) / tenth;
}

void noteMemory(qint64 pid, qint64* residentKb, qint64* ownKb)
{
    *residentKb = std::max(*residentKb, statusKb(pid, "VmRSS"));
    *ownKb = std::max(*ownKb, statusKb(pid, "RssAnon"));
}

// One daemon on a fresh store: the subscription round, then the unchanged one.
bool daemonRounds(const FeedCorpus& corpus, const QString& root, Figures* figures)
{
    RefreshDaemon daemon(root);
    if (!daemon.start())
        return false;
    noteMemory(daemon.processId(), &figures->idleKb, &figures->idleAnonKb);
    RefreshEnds ends;
    ChildPeak plugin(daemon.processId());
    const int feeds = corpus.links().size();
    if (!callDaemon(QStringLiteral("subscribe"), {corpus.links(), QStringLiteral("tamsil")}) || !ends.waitFor(feeds))
        return daemon.fail(QStringLiteral("the subscription round failed"));
    if (ends.times().last() < figures->coldMs) {
        figures->coldMs = ends.times().last();
        tenths(ends.times(), &figures->firstTenthMs, &figures->lastTenthMs);
    }
    const QStringList channels = ends.uris();
    ends.clear();
    if (!callDaemon(QStringLiteral("refresh"), {channels}) || !ends.waitFor(feeds, 304))
        return daemon.fail(QStringLiteral("the unchanged round failed"));
    figures->unchangedMs = std::min(figures->unchangedMs, ends.times().last());
    plugin.sample();
    figures->pluginKb = std::max(figures->pluginKb, plugin.peakKb());
    noteMemory(daemon.processId(), &figures->afterKb, &figures->afterAnonKb);
    return true;
}

bool newsboatRound(const FeedCorpus& corpus, const QString& root, Figures* figures)
{
    Newsboat::Reloads reloads;
    if (!Newsboat::reload(corpus.links(), root, &reloads))
        return false;
    figures->newsboatMs = std::min(figures->newsboatMs, reloads.firstMs);
    figures->newsboatSecondMs = std::min(figures->newsboatSecondMs, reloads.secondMs);
    figures->newsboatUnread = reloads.unread;
    return true;
}

QString ms(double value)
{
    return QString::number(value, 'f', 0) + QStringLiteral(" ms");
}

QString mb(qint64 kb)
{
    return QString::number(kb / 1024.0, 'f', 1) + QStringLiteral(" MB");
}

QString ratio(double value)
{
    return QString::number(value, 'f', 2);
}

void verdict(bool ok)
{
    out() << (ok ? " ok" : " OVER") << Qt::endl;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(file.readAll().split(' ').mid(0, 3).join(' '));
}

void reportRounds(const FeedCorpus& corpus, const Figures& figures)
{
    const int feeds = corpus.links().size();
    out() << feeds << " feeds, " << corpus.items() << " items, " << QString::number(corpus.bytes() / 1e6, 'f', 1)
          << " MB (the daemon keeps " << corpus.itemsKept(100) << " of them at its default 100 a channel)" << Qt::endl;
    out() << "newsboat -x reload (1 thread, fresh cache): " << ms(figures.newsboatMs) << ", the second "
          << ms(figures.newsboatSecondMs) << " (" << figures.newsboatUnread << ")" << Qt::endl;
    const double cold = figures.coldMs / figures.newsboatMs;
    const double coldTarget = feeds >= ScaleFeeds ? ScaleColdTarget : ColdTarget;
    out() << "cold round through the daemon: " << ms(figures.coldMs) << ", ratio to newsboat's reload "
          << ratio(cold) << " (target <= " << coldTarget << ")";
    verdict(cold <= coldTarget);
    const double unchanged = figures.unchangedMs / figures.newsboatSecondMs;
    out() << "unchanged round: " << ms(figures.unchangedMs) << ", ratio to newsboat's second reload "
          << ratio(unchanged) << " (target <= " << UnchangedTarget << ")";
    verdict(unchanged <= UnchangedTarget);
    const double growth = figures.lastTenthMs / figures.firstTenthMs;
    out() << "cold round per feed between feed ends: first tenth " << ms(figures.firstTenthMs) << ", last tenth "
          << ms(figures.lastTenthMs) << ", ratio " << ratio(growth) << " (target <= " << TenthsTarget << ")";
    verdict(growth <= TenthsTarget);
    // Most of it is shared libraries' pages; the daemon's own is the anonymous part.
    out() << "daemon resident memory idle after start: " << mb(figures.idleKb) << ", its own "
          << mb(figures.idleAnonKb) << " (target <= " << mb(IdleTargetKb) << ")";
    verdict(figures.idleKb <= IdleTargetKb);
    out() << "daemon resident memory after the rounds: " << mb(figures.afterKb) << ", its own "
          << mb(figures.afterAnonKb) << " (target <= " << mb(AfterTargetKb) << ")";
    verdict(figures.afterKb <= AfterTargetKb);
    out() << "plug-in peak: " << mb(figures.pluginKb) << " (target <= " << mb(PluginTargetKb) << ")";
    verdict(figures.pluginKb <= PluginTargetKb);
}

void reportWaits(const Options& options, const Figures& figures)
{
    if (options.largeFeed) {
        out() << "longest wait for conf while a feed of " << LoopWaits::LargeFeedItems << " items is handled: "
              << ms(figures.confWaitMs) << " (target <= " << ms(ConfWaitTargetMs) << ")";
        verdict(figures.confWaitMs <= ConfWaitTargetMs);
        out() << "  (the feed took " << ms(figures.largeFeedMs) << " from its subscription to its end)" << Qt::endl;
    }
    if (options.manyUris) {
        const LoopWaits::ManyUriAnswers& answers = figures.manyUris;
        out() << "refresh of " << LoopWaits::ManyUris << " stored channels answered in " << ms(answers.refreshMs)
              << " (target <= " << ms(ManyUrisTargetMs) << ")";
        verdict(answers.refreshMs <= ManyUrisTargetMs);
        out() << "  (cancelRefresh of them answered in " << ms(answers.cancelMs) << ")" << Qt::endl;
        out() << "refresh of " << LoopWaits::ManyUris << " URIs of no stored channel answered in "
              << ms(answers.unknownRefreshMs) << " (target <= " << ms(ManyUrisTargetMs) << ")";
        verdict(answers.unknownRefreshMs <= ManyUrisTargetMs);
    }
}

bool parse(const QCoreApplication& app, Options* options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Run on a session bus: dbus-run-session -- bench_refresh"));
    parser.addHelpOption();
    const QCommandLineOption feeds(QStringLiteral("feeds"), QStringLiteral("Feeds of the corpus (100, at least 10)."),
                                   QStringLiteral("n"), QStringLiteral("100"));
    const QCommandLineOption items(QStringLiteral("items"),
                                   QStringLiteral("Items of every feed (default: the mix, about 60 a feed)."),
                                   QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption runs(QStringLiteral("rounds"),
                                    QStringLiteral("Rounds of each part (3): fewer for a quick look, more on a busy machine."),
                                    QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption keep(QStringLiteral("keep"), QStringLiteral("Leave the logs and stores behind."));
    parser.addOptions({feeds, items, runs, keep});
    parser.addPositionalArgument(QStringLiteral("parts"), QStringLiteral("corpus, large-feed, many-uris (all)."),
                                 QStringLiteral("[parts...]"));
    parser.process(app);
    options->feeds = std::max(10, parser.value(feeds).toInt());
    options->itemsPerFeed = std::max(0, parser.value(items).toInt());
    options->runs = std::max(1, parser.value(runs).toInt());
    options->keep = parser.isSet(keep);
    const QStringList all = {QStringLiteral("corpus"), QStringLiteral("large-feed"), QStringLiteral("many-uris")};
    const QStringList parts = parser.positionalArguments().isEmpty() ? all : parser.positionalArguments();
    for (const QString& part : parts) {
        if (!all.contains(part)) {
            out() << "No part " << part << ": " << all.join(QStringLiteral(", ")) << Qt::endl;
            return false;
        }
    }
    options->corpus = parts.contains(all.at(0));
    options->largeFeed = parts.contains(all.at(1));
    options->manyUris = parts.contains(all.at(2));
    return true;
}

bool runParts(const Options& options, const QTemporaryDir& dir, Figures* figures)
{
    HttpFixture server;
    const FeedCorpus corpus(&server, options.corpus ? options.feeds : 0, options.itemsPerFeed);
    const QString largeLink = options.largeFeed ? FeedCorpus::addLarge(&server, LoopWaits::LargeFeedItems) : QString();
    for (int round = 0; round < options.runs; ++round) {
        const QString tag = QString::number(round);
        if (options.corpus
            && (!daemonRounds(corpus, dir.filePath(QStringLiteral("daemon") + tag), figures)
                || !newsboatRound(corpus, dir.filePath(QStringLiteral("newsboat") + tag), figures)))
            return false;
        if (options.largeFeed
            && !LoopWaits::largeFeed(largeLink, dir.filePath(QStringLiteral("large") + tag), &figures->confWaitMs,
                                     &figures->largeFeedMs))
            return false;
        if (options.manyUris
            && !LoopWaits::manyUris(server, dir.filePath(QStringLiteral("many") + tag), &figures->manyUris))
            return false;
    }
    if (options.corpus)
        reportRounds(corpus, *figures);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parse(app, &options))
        return 1;
    if (!QDBusConnection::sessionBus().isConnected()) {
        out() << "No session bus: run under dbus-run-session -- " << argv[0] << Qt::endl;
        return 1;
    }
    if (options.corpus && !Newsboat::installed()) {
        out() << "newsboat is missing and could not be installed" << Qt::endl;
        return 1;
    }
    QTemporaryDir dir;
    dir.setAutoRemove(!options.keep);
    if (options.keep)
        out() << "Kept in " << dir.path() << Qt::endl;
    out() << "load average at the start: " << loadAverage() << "; best of " << options.runs << Qt::endl;
    Figures figures;
    if (!runParts(options, dir, &figures))
        return 1;
    reportWaits(options, figures);
    out() << "load average at the end: " << loadAverage() << Qt::endl;
    return 0;
}
