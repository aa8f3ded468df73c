#include "channelcommands.h"

#include "daemonrequest.h"
#include "feedtrackersparql.h"
#include "keywords.h"
#include "toolstore.h"
#include "virelonservice.h"

namespace {

// The store reads a channel without its messages: the line gives the count the store holds.
void printStoredChannel(const FeedChannel& channel, const FeedTrackerSparql* store)
{
    printChannel(output(), channel, store->allMessageUrls(channel.uri()).size());
}

} // namespace

int handleChannelOperations()
{
    trace("void handleChannelOperations()");
    const QString operation = word(2);
    NORVIX_DIAGNOSTIC << "Operation :" << operation;
    if (operation == Keyword::Insert || operation == Keyword::Subscribe)
        return modifyChannelSubscription(Element::Channel::Add);
    if (operation == Keyword::Delete || operation == Keyword::Unsubscribe)
        return modifyChannelSubscription(Element::Channel::Remove);
    if (operation == Keyword::DeleteAll)
        return deleteAllChannels();
    if (operation == Keyword::List)
        return listChannelInfo();
    if (operation == Keyword::ListAll)
        return listAllChannelInfo();
    if (operation == Keyword::Refresh)
        return refreshChannels();
    if (operation == Keyword::Cancel)
        return cancelChannelDownload();
    if (operation == Keyword::SetTitle)
        return setChannelTitle();
    if (operation == Keyword::Edit)
        return editChannelInfo();
    printUsage();
    return Misused;
}

int modifyChannelSubscription(Element::Channel::SubscriptionAction action)
{
    trace("void modifyChannelSubscription(Element::Channel::SubscriptionAction)");
    const QString link = lastAttribute(Keyword::Link, false);
    const QString pluginType = lastAttribute(Keyword::Type, false);
    NORVIX_DIAGNOSTIC << "link =" << link;
    NORVIX_DIAGNOSTIC << "pluginType =" << pluginType;
    if (link.isEmpty() || pluginType.isEmpty())
        return Misused;
    const LinkKind kind = action == Element::Channel::Add ? LinkKind::WebAddress : LinkKind::Uri;
    if (!NORVIX_LINKS_READABLE({link}, kind))
        return Misused;
    if (action == Element::Channel::Add)
        return NORVIX_REQUEST_DAEMON([&](VirelonService* engine) { engine->subscribe({QUrl(link)}, pluginType); });
    return NORVIX_REQUEST_DAEMON([&](VirelonService* engine) { engine->unsubscribe(QUrl(link)); });
}

int deleteAllChannels()
{
    FeedTrackerSparql* store = NORVIX_OPEN_STORE;
    if (!store)
        return Failed;
    store->deleteAllChannels();
    // The store does not say whether each deletion held: what is left does.
    bool ok = false;
    return store->allChannelUrls(&ok).isEmpty() && ok ? Done : Failed;
}

int listChannelInfo()
{
    trace("void listChannelInfo()");
    const QStringList links = attributeValues(Keyword::Link, true);
    if (links.isEmpty())
        return Misused;
    FeedTrackerSparql* store = NORVIX_OPEN_STORE;
    if (!store)
        return Failed;
    int status = Done;
    for (const QString& link : links) {
        const FeedChannel channel = store->channelForUri(link);
        if (channel.uri().isEmpty()) {
            output() << "Channel : " << link << " doesn't exist";
            status = Failed;
        } else {
            printStoredChannel(channel, store);
        }
    }
    return status;
}

int listAllChannelInfo()
{
    trace("void listAllChannelInfo()");
    FeedTrackerSparql* store = NORVIX_OPEN_STORE;
    if (!store)
        return Failed;
    bool ok = false;
    const QList<FeedChannel> channels = store->allChannels(&ok);
    if (!ok)
        return Failed;
    if (channels.isEmpty())
        output() << "No Channels in tracker";
    for (const FeedChannel& channel : channels)
        printStoredChannel(channel, store);
    return Done;
}

int refreshChannels()
{
    trace("void refreshChannels()");
    const QStringList links = attributeValues(Keyword::Link, true);
    if (!NORVIX_LINKS_READABLE(links, LinkKind::Uri))
        return Misused;
    for (const QString& link : links)
        NORVIX_DIAGNOSTIC << "Going to refresh : " << link;
    return NORVIX_REQUEST_DAEMON([&](VirelonService* engine) { engine->refresh(toUrlList(links)); });
}

int cancelChannelDownload()
{
    trace("void cancelChannelDownload()");
    const QStringList links = attributeValues(Keyword::Link, true);
    if (!NORVIX_LINKS_READABLE(links, LinkKind::Uri))
        return Misused;
    for (const QString& link : links)
        NORVIX_DIAGNOSTIC << "Going to cancel download : " << link;
    return NORVIX_REQUEST_DAEMON([&](VirelonService* engine) { engine->cancelRefresh(toUrlList(links)); });
}

int setChannelTitle()
{
    trace("void setChannelTitle()");
    NORVIX_DIAGNOSTIC << "Not supported :(";
    return Failed;
}

// Judging the request is the daemon's business: it answers with its editChannelStatus signal.
int editChannelInfo()
{
    const QString uri = lastAttribute(Keyword::Uri, false);
    QMap<QString, QVariant> changes;
    const QStringList links = attributeValues(Keyword::Link, false);
    if (!links.isEmpty()) {
        if (!NORVIX_LINKS_READABLE({links.last()}, LinkKind::WebAddress))
            return Misused;
        changes.insert(FeedTrackerSparql::LinkKey, links.last());
    }
    const QStringList titles = attributeValues(Keyword::Title, false);
    if (!titles.isEmpty())
        changes.insert(FeedTrackerSparql::TitleKey, titles.last());
    return NORVIX_REQUEST_DAEMON([&](VirelonService* engine) { engine->editChannel(uri, changes); });
}
