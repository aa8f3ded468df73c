// One refresh of the README's run command, made the way a client makes it: a feed served on
// 127.0.0.1 is subscribed through the daemon's D-Bus interface, the daemon has it fetched by
// the tamsil plug-in process, formatted and stored; once it reports the refresh complete, the
// channel and its messages are read back from the store.

#include "feedtrackersparql.h"
#include "httpfixture.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <QFile>
#include <QTextStream>
#include <QTimer>

namespace {

const QString Service = QStringLiteral("com.vorlane.Virelon");

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

// The end of one refresh as the daemon reports it on the bus.
class RefreshWatch : public QObject
{
    Q_OBJECT

public:
    RefreshWatch()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.connect(Service, QStringLiteral("/"), Service, QStringLiteral("refreshCompleted"), this,
                    SLOT(completed(QString)));
        bus.connect(Service, QStringLiteral("/"), Service, QStringLiteral("refreshError"), this,
                    SLOT(failed(QString,int)));
    }

    QString uri;
    int error = -1;

signals:
    void ended();

private slots:
    void completed(const QString& channelUri)
    {
        uri = channelUri;
        error = 0;
        emit ended();
    }
    void failed(const QString& channelUri, int errorCode)
    {
        uri = channelUri;
        error = errorCode;
        emit ended();
    }
};

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
    const QString link = server.url(QStringLiteral("/feed.xml")).toString();
    server.serve(QStringLiteral("/feed.xml"), file.readAll(), "application/rss+xml");

    RefreshWatch watch;
    QEventLoop loop;
    QObject::connect(&watch, &RefreshWatch::ended, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    QDBusMessage subscribe = QDBusMessage::createMethodCall(Service, QStringLiteral("/"), Service,
                                                            QStringLiteral("subscribe"));
    subscribe.setArguments({QStringList{link}, QStringLiteral("tamsil")});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(subscribe);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return fail(QStringLiteral("subscribe failed: ") + reply.errorMessage());
    out() << "Subscribed " << link << " through the daemon\n";
    if (watch.error < 0)
        loop.exec();
    if (watch.error < 0)
        return fail(QStringLiteral("the daemon reported no end of the refresh"));
    if (watch.error != 0)
        return fail(QStringLiteral("refresh of %1 failed with code %2").arg(watch.uri).arg(watch.error));
    out() << "Refresh completed\n";

    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    print(store->channelForUri(watch.uri), store->messagesForChannel(watch.uri));
    return 0;
}

#include "feedrun.moc"
