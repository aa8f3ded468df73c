#include "signalcommands.h"

#include "feedsignalcatcher.h"
#include "keywords.h"
#include "palvix.h"
#include "toolframe.h"
#include "virelonservice.h"

#include <QCoreApplication>
#include <memory>

namespace {

// Program, command, "all".
const int SignalWordCount = 3;

void connectAll(VirelonService* engine, FeedSignalCatcher* catcher)
{
    QObject::connect(engine, &VirelonService::refreshStarted, catcher, &FeedSignalCatcher::refreshStarted);
    QObject::connect(engine, &VirelonService::refreshCompleted, catcher, &FeedSignalCatcher::refreshCompleted);
    QObject::connect(engine, &VirelonService::refreshError, catcher, &FeedSignalCatcher::refreshError);
    QObject::connect(engine, &VirelonService::refreshState, catcher, &FeedSignalCatcher::refreshState);
    QObject::connect(engine, &VirelonService::editChannelStatus, catcher, &FeedSignalCatcher::editChannelStatus);
    QObject::connect(engine, &VirelonService::enclosureDownloadStarted, catcher,
                     &FeedSignalCatcher::enclosureDownloadStarted);
    QObject::connect(engine, &VirelonService::enclosureDownloadCompleted, catcher,
                     &FeedSignalCatcher::enclosureDownloadCompleted);
    QObject::connect(engine, &VirelonService::enclosureDownloadError, catcher,
                     &FeedSignalCatcher::enclosureDownloadError);
    QObject::connect(engine, &VirelonService::enclosureDownloadProgress, catcher,
                     &FeedSignalCatcher::enclosureDownloadProgress);
}

} // namespace

// The watch needs the bus, not the daemon: a daemon that starts later is heard. It lasts until
// the process is stopped from outside, or the bus goes away.
int handleSignalOperations()
{
    trace("void handleSignalOperations()");
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != SignalWordCount || arguments.at(2) != Keyword::All) {
        printUsage();
        return Misused;
    }
    output() << "Connecting all signals of virelon:";
    FeedSignalCatcher catcher;
    const std::unique_ptr<Palvix> client(Palvix::instance());
    VirelonService* engine = client->engine();
    connectAll(engine, &catcher);
    if (engine->lastError().isValid())
        return NORVIX_DAEMON_CALL_STATUS(engine->lastError());
    QObject::connect(engine, &VirelonService::busDisconnected, [] {
        output() << "The session bus went away, no signal can come any more";
        QCoreApplication::exit(Failed);
    });
    return QCoreApplication::exec() == Done ? Done : Failed;
}
