#include "enclosurecommands.h"

#include "daemonrequest.h"
#include "feedtrackersparql.h"
#include "keywords.h"
#include "toolframe.h"
#include "toolstore.h"
#include "virelonservice.h"

namespace {

using DownloadCall = void (VirelonService::*)(const QUrl&, QList<QUrl>&);

// The four download requests differ only in their words and the daemon's method.
int requestDownload(const char* signature, const char* announcement, DownloadCall call)
{
    trace(signature);
    const QUrl enclosureUri(lastAttribute(Keyword::EnclosureUri, true));
    const QUrl channelUri(lastAttribute(Keyword::ChannelUri, true));
    NORVIX_DIAGNOSTIC << announcement;
    NORVIX_DIAGNOSTIC << "channel uri = " << channelUri << ", enclosure-uri = " << enclosureUri;
    QList<QUrl> enclosures{enclosureUri};
    return NORVIX_REQUEST_DAEMON([&](VirelonService* engine) { (engine->*call)(channelUri, enclosures); });
}

// Deletes the record through the store's announcing deletion, so its file goes with it.
bool deleteEnclosure(FeedTrackerSparql* store, const QString& uri)
{
    bool announced = false;
    const QMetaObject::Connection connection = QObject::connect(
        store, &FeedTrackerSparql::enclosuresToBeDeleted, [&](QList<FeedEnclosure>& enclosures) {
            for (const FeedEnclosure& enclosure : enclosures)
                announced = announced || enclosure.uri() == uri;
        });
    store->deleteEnclosures(QList<QUrl>{QUrl(uri)});
    QObject::disconnect(connection);
    return announced;
}

} // namespace

int handleEnclosureOperations()
{
    trace("void handleEnclosureOperations()");
    const QString operation = word(2);
    NORVIX_DIAGNOSTIC << "Operation :" << operation;
    if (operation == Keyword::Insert)
        return insertEnclosures();
    if (operation == Keyword::Delete)
        return deleteEnclosures();
    if (operation == Keyword::Download)
        return downloadEnclosure();
    if (operation == Keyword::CancelDownload)
        return cancelDownloadEnclosure();
    if (operation == Keyword::PauseDownload)
        return pauseDownloadEnclosure();
    if (operation == Keyword::ResumeDownload)
        return resumeDownloadEnclosure();
    printUsage();
    return Misused;
}

int insertEnclosures()
{
    trace("void insertEnclosures()");
    const Attributes attributes = attributesFromArgs();
    // An enclosure without a link is no record the store keeps.
    if (attributes.value(Keyword::Link).isEmpty()) {
        NORVIX_DIAGNOSTIC << "No link: attribute found !!";
        printUsage();
        return Misused;
    }
    if (!attributes.contains(Keyword::MessageUri)) {
        NORVIX_DIAGNOSTIC << "No message-uri: attribute found !!";
        printUsage();
        return Misused;
    }
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(attributes.value(Keyword::Link));
    enclosure.setLocalUrl(attributes.value(Keyword::Link));
    FeedTrackerSparql* store = NORVIX_OPEN_STORE;
    if (!store)
        return Failed;
    // An enclosure under no stored message would be deleted unseen as an orphan.
    const QString messageUri = attributes.value(Keyword::MessageUri);
    if (!ToolStore::messageExists(store, messageUri, __LINE__))
        return Failed;
    if (store->addEnclosures({enclosure}, messageUri))
        return Done;
    NORVIX_DIAGNOSTIC << "Enclosure not stored";
    return Failed;
}

int deleteEnclosures()
{
    trace("void deleteEnclosures()");
    const QStringList uris = attributeValues(Keyword::Link, true);
    if (uris.isEmpty())
        return Misused;
    FeedTrackerSparql* store = NORVIX_OPEN_STORE;
    if (!store)
        return Failed;
    int status = Done;
    for (const QString& uri : uris) {
        NORVIX_DIAGNOSTIC << "Deleting Enclosure with Uri : " << uri;
        if (store->enclosureForUri(uri).uri().isEmpty()) {
            output() << "Enclosure : " << uri << " doesn't exist";
            status = Failed;
        } else if (!deleteEnclosure(store, uri)) {
            NORVIX_DIAGNOSTIC << "Enclosure not deleted :" << uri;
            status = Failed;
        }
    }
    return status;
}

int downloadEnclosure()
{
    return requestDownload("void downloadEnclosure()", "Going to download enclosure",
                           &VirelonService::downloadEnclosure);
}

int cancelDownloadEnclosure()
{
    return requestDownload("void cancelDownloadEnclosure()", "Going to cancel download of enclosure",
                           &VirelonService::cancelDownloadEnclosure);
}

int pauseDownloadEnclosure()
{
    return requestDownload("void pauseDownloadEnclosure()", "Going to pause download of enclosure",
                           &VirelonService::pauseDownloadEnclosure);
}

int resumeDownloadEnclosure()
{
    return requestDownload("void resumeDownloadEnclosure()", "Resume the paused enclosure download",
                           &VirelonService::resumeDownloadEnclosure);
}
