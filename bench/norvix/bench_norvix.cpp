#include "feedenclosurefiles.h"
#include "feedtrackersparql.h"
#include "storeendpoint.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <memory>
#include <virelonpaths.h>

// "norvix channel delete-all" as a process against deleteAllChannels() in this process, each on
// a store of its own filled alike: 200 channels with an icon and 20 messages, each message with
// an enclosure file. Both remove the files of what they delete. Printed as the ratio tool / in-process.
namespace {

const int Channels = 200;
const int MessagesPerChannel = 20;
const double Target = 1.3;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&)
{
}

void makeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(512, 'x')) != 512)
        qFatal("cannot write %s", qPrintable(path));
}

FeedEnclosure enclosure(const QString& name)
{
    FeedEnclosure record;
    record.setRemoteUrl(QStringLiteral("http://example.com/") + name);
    record.setLocalUrl(VirelonPaths::enclosureDir() + QLatin1Char('/') + name);
    makeFile(record.localUrl());
    return record;
}

void fill(FeedTrackerSparql* store)
{
    QDir().mkpath(VirelonPaths::enclosureDir());
    for (int c = 0; c < Channels; ++c) {
        FeedChannel channel;
        channel.setLink(QStringLiteral("http://example.com/feed%1.xml").arg(c));
        channel.setType(QStringLiteral("tamsil"));
        channel.setIcon(enclosure(QStringLiteral("icon%1.png").arg(c)));
        const QString uri = store->addChannel(channel);
        QList<FeedMessage> messages;
        for (int m = 0; m < MessagesPerChannel; ++m) {
            FeedMessage message;
            message.setLink(QStringLiteral("http://example.com/%1/post%2").arg(c).arg(m));
            message.setTitle(QStringLiteral("Post %1").arg(m));
            message.setEnclosures({enclosure(QStringLiteral("c%1m%2.mp3").arg(c).arg(m))});
            messages.append(message);
        }
        if (uri.isEmpty() || !store->addMessages(messages, uri))
            qFatal("filling the store failed");
    }
}

int filesLeft()
{
    return QDir(VirelonPaths::enclosureDir()).entryList(QDir::Files).size();
}

void verifyEmpty(FeedTrackerSparql* store, const char* who)
{
    if (!store->allChannelUrls().isEmpty() || filesLeft() > 0)
        qFatal("%s left %d channels and %d files", who, store->allChannelUrls().size(), filesLeft());
}

// One store endpoint on a fresh database, a store object on it, the store filled.
std::unique_ptr<StoreEndpoint> filledStore(const QString& database, std::unique_ptr<FeedTrackerSparql>* store)
{
    std::unique_ptr<StoreEndpoint> endpoint(new StoreEndpoint(database));
    if (!endpoint->start())
        qFatal("the store endpoint did not start (is there a session bus?)");
    store->reset(new FeedTrackerSparql());
    QDir(VirelonPaths::enclosureDir()).removeRecursively();
    fill(store->get());
    return endpoint;
}

double toolMs(FeedTrackerSparql* store)
{
    QProcess tool;
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    tool.start(QStringLiteral(NORVIX_BINARY), {QStringLiteral("channel"), QStringLiteral("delete-all")});
    if (!tool.waitForFinished(-1) || tool.exitCode() != 0)
        qFatal("norvix failed");
    const double elapsed = timer.nsecsElapsed() / 1e6;
    verifyEmpty(store, "norvix");
    return elapsed;
}

double inProcessMs(FeedTrackerSparql* store)
{
    QObject::connect(store, &FeedTrackerSparql::enclosuresToBeDeleted,
                     [](QList<FeedEnclosure>& enclosures) { FeedEnclosureFiles::remove(enclosures); });
    QElapsedTimer timer;
    timer.start();
    store->deleteAllChannels();
    const double elapsed = timer.nsecsElapsed() / 1e6;
    verifyEmpty(store, "deleteAllChannels()");
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);

    std::unique_ptr<FeedTrackerSparql> store;
    std::unique_ptr<StoreEndpoint> endpoint = filledStore(home.filePath(QStringLiteral("tool-store")), &store);
    const double tool = toolMs(store.get());
    store.reset();
    endpoint.reset();

    endpoint = filledStore(home.filePath(QStringLiteral("reference-store")), &store);
    const double reference = inProcessMs(store.get());
    store.reset();
    endpoint.reset();

    const double ratio = tool / reference;
    out() << "channel delete-all, " << Channels << " channels x " << MessagesPerChannel
          << " messages with files: norvix " << QString::number(tool, 'f', 1) << " ms, in-process "
          << QString::number(reference, 'f', 1) << " ms, ratio " << QString::number(ratio, 'f', 2) << " (target <= "
          << Target << ") " << (ratio <= Target ? "ok" : "OVER") << Qt::endl;
    return 0;
}
