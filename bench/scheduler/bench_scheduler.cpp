#include "feedformatter.h"
#include "feedpluginmanager.h"
#include "feedtrackersparql.h"
#include "benchdaemon.h"
#include "httpfixture.h"
#include "storeendpoint.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>

// A refresh of many channels through the daemon, against the same fetch-format-store rounds made
// in this process one after the other, with the same store, plug-in and feeds, in one run. The
// two alternate a few times and the best of each counts, so that a load that comes and goes
// on the machine weighs on both. The ratio daemon / in-process is what the scheduler, the
// service and the D-Bus road add.
using namespace BenchDaemon;

namespace {

const int Channels = 200;
const int Rounds = 3;
const int ItemsPerFeed = 5;
const double Target = 1.3;

QByteArray feed(int number)
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Feed "
                      + QByteArray::number(number) + "</title><link>http://bench.example/</link>"
                      + "<description>Benchmark feed</description>";
    for (int item = 0; item < ItemsPerFeed; ++item) {
        const QByteArray id = QByteArray::number(number) + '/' + QByteArray::number(item);
        text += "<item><title>Item " + id + "</title><link>http://bench.example/" + id
                + "</link><description>A &lt;b&gt;short&lt;/b&gt; text of item " + id + ".</description></item>";
    }
    return text + "</channel></rss>\n";
}

// Counts the daemon's refreshCompleted and refreshError signals.
class Ends : public QObject
{
    Q_OBJECT

public:
    Ends()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.connect(Service, QStringLiteral("/"), Service, QStringLiteral("refreshCompleted"), this,
                    SLOT(completed(QString)));
        bus.connect(Service, QStringLiteral("/"), Service, QStringLiteral("refreshError"), this,
                    SLOT(failed(QString,int)));
    }

    // Waits until `count` refreshes have ended; false when one failed or it took too long.
    bool waitFor(int count)
    {
        QEventLoop loop;
        connect(this, &Ends::ended, &loop, [&] {
            if (uris.size() >= count || errors)
                loop.quit();
        });
        QTimer::singleShot(600000, &loop, &QEventLoop::quit);
        if (uris.size() < count && !errors)
            loop.exec();
        return uris.size() >= count && !errors;
    }

    QStringList uris;
    int errors = 0;

signals:
    void ended();

private slots:
    void completed(const QString& uri)
    {
        uris << uri;
        emit ended();
    }
    void failed(const QString& uri, int code)
    {
        out() << "refresh of " << uri << " failed with " << code << Qt::endl;
        ++errors;
        emit ended();
    }
};

// One round as scripts/feedrun made it before the daemon did: fetch, format, store.
bool inProcessRound(FeedPluginManager* plugins, const QString& uri)
{
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    QEventLoop loop;
    int result = -1;
    QMetaObject::Connection finished = QObject::connect(plugins, &FeedPluginManager::downloadFeedsFinished, &loop, [&] {
        result = 0;
        loop.quit();
    });
    QMetaObject::Connection failed = QObject::connect(plugins, &FeedPluginManager::downloadFeedsFailed, &loop, [&](int code) {
        result = code;
        loop.quit();
    });
    plugins->downloadFeeds(store->channelForUri(uri));
    if (result < 0)
        loop.exec();
    QObject::disconnect(finished);
    QObject::disconnect(failed);
    if (result != 0)
        return false;
    FeedChannel fetched = plugins->channel();
    plugins->resetActivePlugin();
    QList<FeedMessage> messages = FeedFormatter().formatMessages(fetched.messages());
    fetched.setMessages(messages);
    return store->updateChannel(fetched) && store->addMessages(messages, uri);
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    BenchDaemon::isolate(dir.path(), QStringLiteral(TAMSIL_DIR));
    QCoreApplication app(argc, argv);

    StoreEndpoint endpoint(dir.filePath(QStringLiteral("store")));
    if (!endpoint.start())
        return fail(QStringLiteral("no store endpoint (run under dbus-run-session)"));
    HttpFixture server;
    QStringList links;
    for (int number = 0; number < Channels; ++number) {
        const QString path = QStringLiteral("/feed/%1.xml").arg(number);
        server.serve(path, feed(number), "application/rss+xml");
        links << server.url(path).toString();
    }

    QProcess daemon;
    const QString daemonLog = dir.filePath(QStringLiteral("virelon.log"));
    daemon.setStandardErrorFile(daemonLog);
    daemon.start(QStringLiteral(VIRELON_BINARY), QStringList());
    if (!waitForService(daemon))
        return fail(QStringLiteral("the daemon did not come up"), daemonLog);
    Ends ends;
    // The subscription fetches and stores every channel once; the timed refresh finds them known.
    if (!callDaemon(QStringLiteral("subscribe"), {links, QStringLiteral("tamsil")}) || !ends.waitFor(Channels))
        return fail(QStringLiteral("subscription failed"), daemonLog);
    const QStringList channels = ends.uris;
    // The plug-in of this process talks through files of its own.
    qputenv("VIRELON_COMM_DIR", QFile::encodeName(dir.filePath(QStringLiteral("HOME"))));
    FeedPluginManager* plugins = FeedPluginManager::instance();
    double throughDaemon = 1e300;
    double inProcess = 1e300;
    for (int round = 0; round < Rounds; ++round) {
        ends.uris.clear();
        QElapsedTimer timer;
        timer.start();
        if (!callDaemon(QStringLiteral("refresh"), {channels}) || !ends.waitFor(Channels))
            return fail(QStringLiteral("refresh failed"), daemonLog);
        throughDaemon = std::min(throughDaemon, timer.nsecsElapsed() / 1e6);
        timer.restart();
        for (const QString& uri : channels) {
            if (!inProcessRound(plugins, uri))
                return fail(QStringLiteral("in-process round failed for ") + uri);
        }
        inProcess = std::min(inProcess, timer.nsecsElapsed() / 1e6);
        plugins->unloadPlugins();
    }
    daemon.terminate();
    daemon.waitForFinished();

    const double ratio = throughDaemon / inProcess;
    out() << Channels << " channels refreshed: through the daemon " << QString::number(throughDaemon, 'f', 0)
          << " ms, in-process rounds " << QString::number(inProcess, 'f', 0) << " ms, ratio "
          << QString::number(ratio, 'f', 2) << " (target <= " << Target << ") " << (ratio <= Target ? "ok" : "OVER")
          << Qt::endl;
    FeedPluginManager::releaseInstance();
    FeedTrackerSparql::releaseInstance();
    return 0;
}

#include "bench_scheduler.moc"
