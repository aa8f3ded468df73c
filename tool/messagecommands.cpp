#include "messagecommands.h"

#include "feedtrackersparql.h"
#include "keywords.h"
#include "toolframe.h"
#include "toolstore.h"

namespace {

// Short day name, two-digit day, short month name, year and time, as "Mon, 07 Dec 2026 22:57:07".
const QString PublishedDateFormat = QStringLiteral("ddd', 'dd' 'MMM' 'yyyy' 'hh:mm:ss");

int notImplemented(const char* signature)
{
    trace(signature);
    NORVIX_DIAGNOSTIC << "list all messages - Not implemented yet !!";
    return Failed;
}

} // namespace

int handleMessageOperations()
{
    trace("void handleMessageOperations()");
    const QString operation = word(2);
    NORVIX_DIAGNOSTIC << "Operation :" << operation;
    if (operation == Keyword::Insert)
        return insertMessages();
    if (operation == Keyword::Delete)
        return deleteMessages();
    if (operation == Keyword::DeleteAll)
        return deleteAllMessages();
    if (operation == Keyword::List)
        return listMessageInfo();
    if (operation == Keyword::ListAll)
        return listAllMessageInfo();
    printUsage();
    return Misused;
}

int insertMessages()
{
    trace("void insertMessages()");
    const Attributes attributes = attributesFromArgs();
    if (!attributes.contains(Keyword::Link)) {
        NORVIX_DIAGNOSTIC << "No link: attribute found !!";
        printUsage();
        return Misused;
    }
    if (!attributes.contains(Keyword::ChannelUri)) {
        NORVIX_DIAGNOSTIC << "No channel-uri: attribute found !!";
        printUsage();
        return Misused;
    }
    FeedMessage message;
    message.setLink(attributes.value(Keyword::Link));
    message.setTitle(attributes.value(Keyword::Title));
    message.setDescription(attributes.value(Keyword::Description));
    message.setPublishedDate(QDateTime::fromString(attributes.value(Keyword::PublishedDate), PublishedDateFormat));
    FeedTrackerSparql* store = NORVIX_OPEN_STORE;
    if (!store)
        return Failed;
    // A message under no stored channel would be deleted unseen as an orphan.
    const QString channelUri = attributes.value(Keyword::ChannelUri);
    if (!ToolStore::channelExists(store, channelUri))
        return Failed;
    if (store->addMessages({message}, channelUri))
        return Done;
    NORVIX_DIAGNOSTIC << "Message not stored";
    return Failed;
}

// Each value names one message, deleted alone with the enclosures that only it holds.
int deleteMessages()
{
    trace("void deleteMessages()");
    const QStringList uris = attributeValues(Keyword::Link, true);
    if (uris.isEmpty())
        return Misused;
    FeedTrackerSparql* store = NORVIX_OPEN_STORE;
    if (!store)
        return Failed;
    int status = Done;
    for (const QString& uri : uris) {
        if (!ToolStore::messageExists(store, uri, __LINE__)) {
            status = Failed;
            continue;
        }
        store->deleteMessages(QList<QUrl>{QUrl(uri)});
        bool ok = false;
        if (store->isMessageStored(uri, &ok) || !ok) {
            NORVIX_DIAGNOSTIC << "Message not deleted :" << uri;
            status = Failed;
        }
    }
    return status;
}

int deleteAllMessages()
{
    trace("void deleteAllMessages()");
    const QStringList channelUris = attributeValues(Keyword::ChannelUri, true);
    if (channelUris.isEmpty())
        return Misused;
    FeedTrackerSparql* store = NORVIX_OPEN_STORE;
    if (!store)
        return Failed;
    int status = Done;
    for (const QString& channelUri : channelUris) {
        NORVIX_DIAGNOSTIC << "Deleting Messages of channel : " << channelUri;
        // For an unknown URI the store would delete every message that no channel holds.
        if (!ToolStore::channelExists(store, channelUri) || !store->deleteMessages(channelUri))
            status = Failed;
    }
    return status;
}

int listMessageInfo()
{
    return notImplemented("void listMessageInfo()");
}

int listAllMessageInfo()
{
    return notImplemented("void listAllMessageInfo()");
}
