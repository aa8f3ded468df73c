#include "soldrin.h"

#include "feedchannel.h"
#include "feedlog.h"
#include "feedtuimanager.h"

// Every change of the list is logged once made, one line per call, named by the call.

Soldrin* Soldrin::_single = nullptr;

Soldrin* Soldrin::instance()
{
    if (!_single)
        _single = new Soldrin;
    return _single;
}

void Soldrin::releaseInstance()
{
    delete _single;
    _single = nullptr;
    FeedTUIManager::releaseInstance();
}

int Soldrin::activeTransfers() const
{
    return FeedTUIManager::instance()->activeDownloads();
}

QVariantMap Soldrin::transferDetails(const QString& transferId, const QStringList& fields) const
{
    return FeedTUIManager::instance()->details(transferId, fields);
}

void Soldrin::updateTransferOnSubscription(const QStringList& channelUris)
{
    for (const QString& uri : channelUris)
        FeedTUIManager::instance()->queueRefresh(uri);
    FEED_LOG(debug, "Soldrin") << "Refresh queued:" << channelUris;
}

void Soldrin::updateTransferOnManualEnclosureQueued(const FeedChannel& channel, const FeedEnclosure& enclosure)
{
    FeedTUIManager::instance()->queueDownload(channel.uri(), enclosure);
    FEED_LOG(debug, "Soldrin") << "Download queued:" << enclosure.uri() << channel.uri();
}

void Soldrin::updateTransferOnFeedDownloadComplete(const QString& channelUri)
{
    FeedTUIManager::instance()->endRefresh(channelUri, 0);
    FEED_LOG(debug, "Soldrin") << "Refresh done:" << channelUri;
}

void Soldrin::updateTransferOnFeedDownloadFailure(const QString& channelUri, int errorCode)
{
    FeedTUIManager::instance()->endRefresh(channelUri, errorCode);
    FEED_LOG(debug, "Soldrin") << "Refresh failed:" << channelUri << errorCode;
}

void Soldrin::updateTransferOnUnsubscription(const QStringList& channelUris)
{
    FeedTUIManager::instance()->removeChannels(channelUris);
    FEED_LOG(debug, "Soldrin") << "Transfers removed of:" << channelUris;
}

void Soldrin::updateTransferOnEnclosureDownloadStart(const FeedChannel& channel, const FeedEnclosure& enclosure)
{
    FeedTUIManager::instance()->startDownload(channel.uri(), enclosure);
    FEED_LOG(debug, "Soldrin") << "Download active:" << enclosure.uri() << channel.uri();
}

void Soldrin::updateTransferOnEnclosureDownloadComplete(const QString& channelUri, const FeedEnclosure& enclosure,
                                                       qlonglong timeElapsed)
{
    FeedTUIManager::instance()->endDownload(enclosure, 0);
    FEED_LOG(debug, "Soldrin") << "Download done:" << enclosure.uri() << channelUri << timeElapsed;
}

void Soldrin::updateTransferOnEnclosureDownloadFail(const QString& channelUri, const FeedEnclosure& enclosure,
                                                   int errorCode, qlonglong timeElapsed)
{
    FeedTUIManager::instance()->endDownload(enclosure, errorCode);
    FEED_LOG(debug, "Soldrin") << "Download failed:" << enclosure.uri() << channelUri << errorCode << timeElapsed;
}

// A download paused for the device stays active in the list until it is started again and
// ends, so the list only notes the state.
void Soldrin::updateTransferOnDeviceStateChange(FeedDeviceState::State state, FeedDeviceState::Change change)
{
    FEED_LOG(debug, "Soldrin") << "Device state:" << int(state) << "change:" << int(change);
}

void Soldrin::updateTransferOnEnclosureDownloadProgress(const FeedEnclosure& enclosure, qlonglong total,
                                                       qlonglong received, qlonglong remaining)
{
    FeedTUIManager::instance()->updateDownload(enclosure.uri(), total, received, remaining);
    FEED_LOG(debug, "Soldrin") << "Download progress:" << enclosure.uri() << received << "of" << total
                               << "seconds left:" << remaining;
}
