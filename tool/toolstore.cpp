#include "toolstore.h"

#include "feedenclosurefiles.h"
#include "feedtrackersparql.h"
#include "toolframe.h"

namespace ToolStore {

FeedTrackerSparql* open(int line)
{
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    if (!store->isValid()) {
        diagnostic(line) << "Store not available";
        return nullptr;
    }
    static bool listening = false;
    if (!listening) {
        QObject::connect(store, &FeedTrackerSparql::enclosuresToBeDeleted,
                         [](QList<FeedEnclosure>& enclosures) { FeedEnclosureFiles::remove(enclosures); });
        listening = true;
    }
    return store;
}

bool channelExists(FeedTrackerSparql* store, const QString& channelUri)
{
    if (!store->channelForUri(channelUri).uri().isEmpty())
        return true;
    output() << "Channel : " << channelUri << " doesn't exist";
    return false;
}

bool messageExists(FeedTrackerSparql* store, const QString& messageUri, int line)
{
    bool ok = false;
    if (store->isMessageStored(messageUri, &ok))
        return true;
    if (ok)
        output() << "Message : " << messageUri << " doesn't exist";
    else
        diagnostic(line) << "Store query failed for message :" << messageUri;
    return false;
}

} // namespace ToolStore
