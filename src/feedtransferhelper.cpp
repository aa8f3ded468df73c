#include "feedtransferhelper.h"

#include "feedchannel.h"
#include "feeddevicestatemanager.h"
#include "feedlog.h"
#include "feedtaskmanager.h"
#include "soldrin.h"
#include "virelonpaths.h"

#include <QMutex>

FeedTransferHelper* FeedTransferHelper::_single = nullptr;
QMutex FeedTransferHelper::_mutex;

namespace {

const char* const ProgressSignal = SIGNAL(enclosureDownloadProgress(FeedEnclosure,qlonglong,qlonglong,qlonglong));
const char* const ProgressSlot = SLOT(updateTransferOnEnclosureDownloadProgress(FeedEnclosure,qlonglong,qlonglong,qlonglong));

} // namespace

FeedTransferHelper::FeedTransferHelper()
    : _transferManager(nullptr)
    , _taskManager(FeedTaskManager::instance())
{
    _transferLibrary.setFileName(VirelonPaths::soldrinLibrary());
    connect(_taskManager, SIGNAL(sleep()), this, SLOT(handleSleep()));
    connect(_taskManager, SIGNAL(feedDownloadQueued(QStringList)), this, SLOT(feedDownloadQueued(QStringList)));
    connect(_taskManager, SIGNAL(manualEnclosureDownloadQueued(FeedChannel,FeedEnclosure)), this,
            SLOT(manualEnclosureDownloadQueued(FeedChannel,FeedEnclosure)));
    connect(_taskManager, SIGNAL(enclosureDownloadStarted(FeedChannel,FeedEnclosure)), this,
            SLOT(enclosureDownloadStarted(FeedChannel,FeedEnclosure)));
    connect(_taskManager, SIGNAL(enclosureDownloaded(QString,FeedEnclosure,qlonglong)), this,
            SLOT(enclosureDownloaded(QString,FeedEnclosure,qlonglong)));
    connect(_taskManager, SIGNAL(enclosureDownloadFailed(QString,FeedEnclosure,int,qlonglong)), this,
            SLOT(enclosureDownloadFailed(QString,FeedEnclosure,int,qlonglong)));
}

FeedTransferHelper* FeedTransferHelper::instance()
{
    if (_single)
        return _single;
    _mutex.lock();
    FEED_LOG(debug, "TransferUi") << "mutex locked";
    if (!_single) {
        FEED_LOG(debug, "TransferUi") << "object init";
        _single = new FeedTransferHelper;
    }
    _mutex.unlock();
    FEED_LOG(debug, "TransferUi") << "mutex unlocked";
    return _single;
}

void FeedTransferHelper::releaseInstance()
{
    if (!_single)
        return;
    _mutex.lock();
    FEED_LOG(debug, "TransferUi") << "mutex locked";
    if (_single) {
        FEED_LOG(debug, "TransferUi") << "object de-init";
        delete _single;
        _single = nullptr;
    }
    _mutex.unlock();
    FEED_LOG(debug, "TransferUi") << "mutex unlocked";
}

bool FeedTransferHelper::isLoaded() const
{
    return _transferLibrary.isLoaded() && _transferManager;
}

void FeedTransferHelper::handleAwake()
{
    if (isLoaded()) {
        FEED_LOG(critical, "TransferUi") << "Transfer library already loaded. Returning!!";
        return;
    }
    if (!_transferLibrary.load()) {
        FEED_LOG(critical, "TransferUi") << "Failed to load the transfer library. Returning!!";
        return;
    }
    FEED_LOG(critical, "TransferUi") << "Successfully loaded the library";
    _transferManager = Soldrin::instance();
    connectManager();
}

void FeedTransferHelper::connectManager()
{
    connect(_transferManager, SIGNAL(cancelEnclosureDownload(QString,FeedEnclosure)), this,
            SLOT(cancelEnclosureDownload(QString,FeedEnclosure)));
    connect(_transferManager, SIGNAL(cancelRefresh(QStringList)), this, SLOT(cancelRefresh(QStringList)));
    connect(_transferManager, SIGNAL(downloadEnclosure(QString,FeedEnclosure)), this,
            SLOT(downloadEnclosure(QString,FeedEnclosure)));
    connect(_taskManager, SIGNAL(refreshCompleted(QString)), _transferManager,
            SLOT(updateTransferOnFeedDownloadComplete(QString)));
    connect(_taskManager, SIGNAL(feedsDownloadFailed(QString,int)), _transferManager,
            SLOT(updateTransferOnFeedDownloadFailure(QString,int)));
    connect(_taskManager, SIGNAL(feedsUnsubscribed(QStringList)), _transferManager,
            SLOT(updateTransferOnUnsubscription(QStringList)));
    connect(_taskManager, SIGNAL(enclosureDownloadStarted(FeedChannel,FeedEnclosure)), _transferManager,
            SLOT(updateTransferOnEnclosureDownloadStart(FeedChannel,FeedEnclosure)));
    connect(_taskManager, SIGNAL(enclosureDownloaded(QString,FeedEnclosure,qlonglong)), _transferManager,
            SLOT(updateTransferOnEnclosureDownloadComplete(QString,FeedEnclosure,qlonglong)));
    connect(_taskManager, SIGNAL(enclosureDownloadFailed(QString,FeedEnclosure,int,qlonglong)), _transferManager,
            SLOT(updateTransferOnEnclosureDownloadFail(QString,FeedEnclosure,int,qlonglong)));
    connect(FeedDeviceStateManager::instance(),
            SIGNAL(deviceStateChanged(FeedDeviceState::State,FeedDeviceState::Change)), _transferManager,
            SLOT(updateTransferOnDeviceStateChange(FeedDeviceState::State,FeedDeviceState::Change)));
}

void FeedTransferHelper::handleSleep()
{
    if (!isLoaded()) {
        FEED_LOG(debug, "TransferUi") << "Transfer Library is not loaded!! Nothing to do now";
        return;
    }
    if (_transferManager->activeTransfers() != 0) {
        FEED_LOG(debug, "TransferUi") << "There are still some pending transfers. Cannot unload library";
        return;
    }
    Soldrin::releaseInstance();
    _transferManager = nullptr;
    if (_transferLibrary.unload())
        FEED_LOG(critical, "TransferUi") << "Successfully unloaded the library";
}

void FeedTransferHelper::cancelEnclosureDownload(const QString& channelUri, const FeedEnclosure& enc)
{
    FeedTaskManager::instance()->cancelDownloadEnclosure(channelUri, enc, false);
}

void FeedTransferHelper::downloadEnclosure(const QString& channelUri, const FeedEnclosure& enc)
{
    FeedTaskManager::instance()->downloadEnclosure(channelUri, enc);
}

void FeedTransferHelper::cancelEnclosureDownload(const QString& channelUri, const QList<FeedEnclosure>& encList)
{
    FeedTaskManager::instance()->cancelDownloadEnclosure(channelUri, encList, false);
}

void FeedTransferHelper::cancelRefresh(const QStringList& channelUriList)
{
    FeedTaskManager::instance()->cancelRefresh(channelUriList);
}

// A download started again without an end in between must not get a second connection, or the
// list would take every progress report twice.
void FeedTransferHelper::enclosureDownloadStarted(const FeedChannel&, const FeedEnclosure&)
{
    if (isLoaded())
        connect(_taskManager, ProgressSignal, _transferManager, ProgressSlot, Qt::UniqueConnection);
}

void FeedTransferHelper::enclosureDownloaded(const QString&, const FeedEnclosure&, qlonglong)
{
    disconnectProgress();
}

void FeedTransferHelper::enclosureDownloadFailed(const QString&, const FeedEnclosure&, int, qlonglong)
{
    disconnectProgress();
}

void FeedTransferHelper::disconnectProgress()
{
    if (isLoaded())
        disconnect(_taskManager, ProgressSignal, _transferManager, ProgressSlot);
}

void FeedTransferHelper::feedDownloadQueued(const QStringList& channelUriList)
{
    FEED_LOG(debug, "TransferUi") << "Got feed download queued signal";
    handleAwake();
    if (isLoaded())
        _transferManager->updateTransferOnSubscription(channelUriList);
}

void FeedTransferHelper::manualEnclosureDownloadQueued(const FeedChannel& channel, const FeedEnclosure& enclosure)
{
    FEED_LOG(debug, "TransferUi") << "Got manual enclosure download queued signal";
    handleAwake();
    if (isLoaded())
        _transferManager->updateTransferOnManualEnclosureQueued(channel, enclosure);
}

QVariantMap FeedTransferHelper::transferDetails(const QString& transferId, const QStringList& fields)
{
    if (!isLoaded())
        return QVariantMap();
    return Soldrin::instance()->transferDetails(transferId, fields);
}
