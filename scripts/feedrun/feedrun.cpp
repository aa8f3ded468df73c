// One refresh of the README's run command, the way the daemon makes it: a feed served on
// 127.0.0.1 is subscribed in the store, fetched and converted by the tamsil plug-in process,
// formatted, written to the store and read back.

#include "feedformatter.h"
#include "feedpluginmanager.h"
#include "feedtrackersparql.h"
#include "httpfixture.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTextStream>
#include <QTimer>

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(const QString& why)
{
    QTextStream(stderr) << "feedrun: " << why << '\n';
    return 1;
}

// Waits for the plug-in's answer; 0 when the feed was fetched, else the error code.
int fetch(FeedPluginManager* plugins, const FeedChannel& channel)
{
    QEventLoop loop;
    int result = -1;
    QObject::connect(plugins, &FeedPluginManager::downloadFeedsFinished, &loop, [&] {
        result = 0;
        loop.quit();
    });
    QObject::connect(plugins, &FeedPluginManager::downloadFeedsFailed, &loop, [&](int code) {
        result = code;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    plugins->downloadFeeds(channel);
    if (result < 0)
        loop.exec();
    return result;
}

void print(const FeedChannel& channel, const QList<FeedMessage>& messages)
{
    out() << "Channel " << channel.uri() << '\n'
          << "  title: " << channel.title() << '\n'
          << "  link:  " << channel.link() << '\n'
          << "Stored messages: " << messages.size() << '\n';
    for (const FeedMessage& message : messages) {
        out() << "- " << message.title() << '\n'
              << "  link:        " << message.link() << '\n'
              << "  published:   " << message.publishedDate().toUTC().toString(Qt::ISODate) << '\n'
              << "  description: " << message.description() << '\n';
    }
    out().flush();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return fail(QStringLiteral("usage: feedrun <feed file>"));
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read ") + file.fileName());

    HttpFixture server;
    server.serve(QStringLiteral("/feed.xml"), file.readAll(), "application/rss+xml");

    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    FeedChannel subscription;
    subscription.setLink(server.url(QStringLiteral("/feed.xml")).toString());
    subscription.setType(QStringLiteral("tamsil"));
    const QString uri = store->addChannel(subscription);
    if (uri.isEmpty())
        return fail(QStringLiteral("the store refused the subscription"));
    out() << "Subscribed " << subscription.link() << '\n';

    FeedPluginManager* plugins = FeedPluginManager::instance();
    const int error = fetch(plugins, store->channelForUri(uri));
    if (error != 0)
        return fail(QStringLiteral("fetch failed with code %1").arg(error));
    const FeedChannel fetched = plugins->channel();
    plugins->unloadPlugins();

    if (!store->updateChannel(fetched))
        return fail(QStringLiteral("the store refused the channel"));
    if (!store->addMessages(FeedFormatter().formatMessages(fetched.messages()), uri))
        return fail(QStringLiteral("the store refused the messages"));
    print(store->channelForUri(uri), store->messagesForChannel(uri));
    return 0;
}
