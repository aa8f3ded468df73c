#include "feedtaskmanager.h"

#include "feedchanneltask.h"
#include "feeddevicestatemanager.h"
#include "feedenclosuretask.h"
#include "feedlog.h"
#include "feednetworkmanager.h"
#include "feedpluginmanager.h"
#include "feedqueuemanager.h"
#include "feedsettingsmanager.h"
#include "feedtrackersparql.h"
#include "feedupdatemanager.h"
#include "virelon.h"
#include "virelonpaths.h"

#include <QDir>
#include <QMutex>
#include <QScopedValueRollback>
#include <QSet>
#include <QSettings>
#include <QTimer>

namespace {

QMutex instanceMutex;
FeedTaskManager* single = nullptr;
// Set while the one scheduler is being made: a call back from inside must not wait for the lock
// its own caller holds.
bool constructing = false;

// The third time the plug-in process ends under one task, the task is given up.
constexpr int MaximumPluginExits = 3;
constexpr int DefaultRetryInterval = 5000;

int retryInterval()
{
    bool ok = false;
    const int interval = qEnvironmentVariableIntValue("VIRELON_TEST_RETRY_MS", &ok);
    return ok && interval > 0 ? interval : DefaultRetryInterval;
}

const char* flagText(bool flag)
{
    return flag ? "true" : "false";
}

} // namespace

FeedTaskManager* FeedTaskManager::instance()
{
    if (single)
        return single;
    if (constructing) {
        FEED_LOG(critical, "TaskManager") << "Scheduler asked for while it is being made, returning none";
        return nullptr;
    }
    instanceMutex.lock();
    FEED_LOG(debug, "TaskManager") << "mutex locked";
    if (!single) {
        constructing = true;
        FEED_LOG(debug, "TaskManager") << "object init";
        single = new FeedTaskManager;
        constructing = false;
        // Seam: FeedProcessLauncher::instance() and FeedTransferHelper::instance() are made here,
        // in this order, once they exist.
    }
    instanceMutex.unlock();
    FEED_LOG(debug, "TaskManager") << "mutex unlocked";
    return single;
}

void FeedTaskManager::releaseInstance()
{
    if (!single)
        return;
    instanceMutex.lock();
    FEED_LOG(debug, "TaskManager") << "mutex locked";
    if (single) {
        FEED_LOG(debug, "TaskManager") << "object de-init";
        delete single;
        single = nullptr;
    }
    instanceMutex.unlock();
    FEED_LOG(debug, "TaskManager") << "mutex unlocked";
}

FeedTaskManager::FeedTaskManager()
    : _deviceStateManager(nullptr)
    , _tracker(nullptr)
    , _pluginManager(nullptr)
    , _queueManager(nullptr)
    , _paused(false)
    , _enclosurePausedByUser(false)
    , _enclosurePausedByDevice(false)
    , _sleeping(true)
    , _virelon(nullptr)
    , _looping(false)
    , _loopAgain(false)
    , _retry(new QTimer(this))
{
    _queueManager = FeedQueueManager::instance();
    _pluginManager = FeedPluginManager::instance();
    _tracker = FeedTrackerSparql::instance();
    _deviceStateManager = FeedDeviceStateManager::instance();
    _virelon = Virelon::instance();
    _retry->setSingleShot(true);
    _retry->setInterval(retryInterval());
    makeConnections();
    createEnclosureDir();
    removeStaleChannelErrors();
}

FeedTaskManager::~FeedTaskManager()
{
    FEED_LOG(debug, "TaskManager") << "clear task manager";
}

// Seam: the plug-in manager's enclosure results and the device state are connected here once
// the scheduler handles them.
void FeedTaskManager::makeConnections()
{
    connect(_queueManager, SIGNAL(taskAdded()), this, SLOT(startNextDownload()));
    connect(_pluginManager, SIGNAL(downloadFeedsFinished()), this, SLOT(feedsDownloaded()));
    connect(_pluginManager, SIGNAL(downloadFeedsFailed(int)), this, SLOT(feedsDownloadFailed(int)));
    connect(_pluginManager, SIGNAL(pluginExited(QString)), this, SLOT(pluginExited(QString)));
    connect(this, SIGNAL(feedDownloadStarted(QString)), _virelon, SIGNAL(refreshStarted(QString)));
    connect(this, SIGNAL(feedsDownloaded(FeedChannel)), _virelon, SLOT(feedsDownloaded(FeedChannel)));
    connect(this, SIGNAL(feedsDownloadFailed(QString,int)), _virelon, SLOT(feedsDownloadFailed(QString,int)));
    connect(this, SIGNAL(enclosureDownloadStarted(FeedChannel,FeedEnclosure)), _virelon,
            SLOT(enclosureDownloadStarted(FeedChannel,FeedEnclosure)));
    connect(this, SIGNAL(enclosureDownloadProgress(FeedEnclosure,qlonglong,qlonglong,qlonglong)), _virelon,
            SLOT(enclosureDownloadProgress(FeedEnclosure,qlonglong,qlonglong,qlonglong)));
    connect(this, SIGNAL(enclosureDownloaded(QString,FeedEnclosure,qlonglong)), _virelon,
            SLOT(enclosureDownloaded(QString,FeedEnclosure,qlonglong)));
    connect(this, SIGNAL(enclosureDownloadFailed(QString,FeedEnclosure,int,qlonglong)), _virelon,
            SLOT(enclosureDownloadFailed(QString,FeedEnclosure,int,qlonglong)));
    connect(this, SIGNAL(enclosureDownloadError(QStringList,int,qlonglong)), _virelon,
            SIGNAL(enclosureDownloadError(QStringList,int,qlonglong)));
    connect(this, SIGNAL(refreshState(int)), _virelon, SIGNAL(refreshState(int)));
    connect(this, SIGNAL(sleep()), _virelon, SLOT(hibernate()));
    connect(this, SIGNAL(refreshCompleted(QString)), _virelon, SIGNAL(refreshCompleted(QString)));
    connect(_retry, SIGNAL(timeout()), this, SLOT(startNextDownload()));
}

void FeedTaskManager::createEnclosureDir()
{
    const QString path = VirelonPaths::enclosureDir();
    if (QDir(path).exists())
        FEED_LOG(debug, "TaskManager") << "Enclosure Dir already exists";
    if (QDir().mkpath(path))
        FEED_LOG(debug, "TaskManager") << "Successfully created directory : " << path;
    else
        FEED_LOG(critical, "TaskManager") << "Failed to create directory: " << path;
}

// A store that cannot be read says nothing about which channels are gone.
void FeedTaskManager::removeStaleChannelErrors()
{
    QSettings errors(QStringLiteral("virelon"), QStringLiteral("errors"));
    bool read = false;
    const QStringList channels = _tracker->allChannelUrls(&read);
    if (!read) {
        FEED_LOG(critical, "TaskManager") << "Channels not read from the store, channel errors kept";
        return;
    }
    if (channels.isEmpty()) {
        errors.clear();
        return;
    }
    for (const QString& key : errors.allKeys()) {
        if (!channels.contains(_virelon->unescapeSettingsKey(key)))
            errors.remove(key);
    }
}

// The loop ---------------------------------------------------------------------------------

void FeedTaskManager::startNextDownload()
{
    if (_looping) {
        _loopAgain = true;
        return;
    }
    _looping = true;
    do {
        _loopAgain = false;
        runNextTask();
    } while (_loopAgain);
    _looping = false;
}

void FeedTaskManager::runNextTask()
{
    if (!canStartNextDownload()) {
        FEED_LOG(debug, "TaskManager") << "Returning !";
        return;
    }
    if (_queueManager->isEmpty(FeedTask::AnyTaskType, FeedTask::AnyPriority)) {
        FEED_LOG(debug, "TaskManager") << "feed transfer done";
        _sleeping = true;
        _pluginManager->unloadPlugins();
        emit sleep();
        return;
    }
    FEED_LOG(debug, "TaskManager") << "Starting download....";
    if (_sleeping) {
        emit awake();
        _sleeping = false;
    }
    FEED_LOG(debug, "TaskManager") << "_enclosurePausedByUser: " << flagText(_enclosurePausedByUser);
    FEED_LOG(debug, "TaskManager") << "_enclosurePausedByDevice: " << flagText(_enclosurePausedByDevice);
    FeedTask* task = _queueManager->dequeueTask(FeedTask::AnyTaskType);
    if (!task)
        return;
    _currentTask.start(task);
    processTask(task);
}

bool FeedTaskManager::canStartNextDownload()
{
    if (FeedTask* task = _currentTask.task()) {
        FEED_LOG(debug, "TaskManager") << "Already processing _currentTask priority: " << task->priority();
        FEED_LOG(debug, "TaskManager") << "Current task type: " << task->type();
        return false;
    }
    if (_pluginManager->isBusy()) {
        FEED_LOG(debug, "TaskManager") << "Returning: Plugin manager is busy !";
        retryLater();
        return false;
    }
    if (FeedNetworkManager::instance()->isConnected()) {
        if (!_paused && !_enclosurePausedByDevice)
            return true;
        FEED_LOG(debug, "TaskManager") << "User paused downloads";
        return false;
    }
    FEED_LOG(debug, "TaskManager") << "Returning: No network !";
    _pluginManager->unloadPlugins();
    retryLater();
    return false;
}

// Nothing else would wake the loop for the tasks that wait.
void FeedTaskManager::retryLater()
{
    if (!_retry->isActive() && !_queueManager->isEmpty(FeedTask::AnyTaskType, FeedTask::AnyPriority))
        _retry->start();
}

void FeedTaskManager::processTask(FeedTask* task)
{
    switch (task->type()) {
    case FeedTask::ChannelTaskType:
        FEED_LOG(debug, "TaskManager") << "Treating channel task....";
        processTask(static_cast<FeedChannelTask*>(task));
        break;
    case FeedTask::EnclosureTaskType:
        FEED_LOG(debug, "TaskManager") << "Treating enclosure task....";
        processTask(static_cast<FeedEnclosureTask*>(task));
        break;
    default:
        FEED_LOG(critical, "TaskManager") << "Could not find correct task type !";
    }
}

void FeedTaskManager::processTask(FeedChannelTask* task)
{
    FEED_LOG(debug, "TaskManager") << "Processing channel task...";
    const FeedChannel channel = _tracker->channelForUri(task->url());
    if (channel.uri().isEmpty()) {
        FEED_LOG(critical, "TaskManager") << "No channels are in the list";
        _currentTask.finish();
        startNextDownload();
        return;
    }
    if (task->priority() == FeedTask::AutoRefreshPriority && FeedSettingsManager::instance()->refreshOnlyWifi()
        && !FeedNetworkManager::instance()->isUsingWLAN()) {
        FEED_LOG(debug, "TaskManager") << "Auto feed refresh skipped, not on wifi.";
        const quint64 ticket = _currentTask.ticket();
        emit feedsDownloadFailed(channel.uri(), 411);
        if (_currentTask.isCurrent(ticket))
            _currentTask.finish();
        startNextDownload();
        return;
    }
    emit feedDownloadStarted(channel.uri());
    _pluginManager->downloadFeeds(channel);
}

// Seam: enclosure downloads are not available yet; such a task ends unrun.
void FeedTaskManager::processTask(FeedEnclosureTask* task)
{
    FEED_LOG(debug, "TaskManager") << "Enclosure downloads not available yet, task dropped:"
                                   << task->enclosure().remoteUrl();
    _currentTask.finish();
    startNextDownload();
}

// A task that is being stopped or dropped is no copy of the request: that one is queued.
void FeedTaskManager::removeCurrentTask(QList<FeedTask*>& tasks)
{
    FeedTask* current = _currentTask.task();
    if (!current || tasks.isEmpty()) {
        FEED_LOG(debug, "TaskManager") << "No current task OR taskList empty !";
        return;
    }
    if (_currentTask.isDropped() || _currentTask.stopReason() == FeedCurrentTask::Cancel)
        return;
    const QList<FeedTask*> snapshot = tasks;
    for (FeedTask* task : snapshot) {
        if (task->type() != current->type())
            continue;
        bool equal = false;
        if (task->type() == FeedTask::ChannelTaskType) {
            equal = current->matchesChannel(static_cast<FeedChannelTask*>(task)->url());
        } else {
            auto enclosureTask = static_cast<FeedEnclosureTask*>(task);
            equal = current->matchesChannel(enclosureTask->channel())
                    && static_cast<FeedEnclosureTask*>(current)->enclosure() == enclosureTask->enclosure();
        }
        if (equal && tasks.removeOne(task))
            delete task;
    }
}

// Ends the run the ticket names, if it still runs, and frees the plug-in for the next task.
void FeedTaskManager::endCurrentTask(quint64 ticket)
{
    if (_currentTask.isCurrent(ticket))
        _currentTask.finish();
    _pluginManager->resetActivePlugin();
}

// The task goes back into the queue while it is still current, so that the loop the queue wakes
// leaves it alone. An equal task that already waits takes its place.
void FeedTaskManager::handBackCurrentTask(EnqueueType enqueueType)
{
    if (_queueManager->enqueueTask(_currentTask.task(), enqueueType)) {
        _currentTask.release();
        return;
    }
    FEED_LOG(debug, "TaskManager") << "An equal task waits already, dropping the handed back one";
    _currentTask.finish();
}

// Feed results ------------------------------------------------------------------------------
//
// A result slot ends its task as a turn of the loop: whatever its signals set off (a request
// that queues a task) waits until the task is gone and the plug-in is free, then the loop runs.

void FeedTaskManager::feedsDownloaded()
{
    {
        const QScopedValueRollback<bool> turn(_looping, true);
        const FeedChannelTask* task = _currentTask.channelTask();
        if (!task) {
            FEED_LOG(critical, "TaskManager") << "Feed result without a running channel task, ignored";
            return;
        }
        const quint64 ticket = _currentTask.ticket();
        const QString url = task->url();
        reportFeed(url, _pluginManager->channel(), ticket);
        endCurrentTask(ticket);
    }
    startNextDownload();
}

// Only the channel that was asked for, fetched and not cancelled meanwhile, is a success.
void FeedTaskManager::reportFeed(const QString& url, const FeedChannel& channel, quint64 ticket)
{
    if (!_currentTask.isCurrent(ticket)) {
        FEED_LOG(critical, "TaskManager") << "Channel task ended while its result was read: " << url;
        return;
    }
    const bool cancelled = _currentTask.stopReason() == FeedCurrentTask::Cancel;
    if (_currentTask.isDropped()) {
        FEED_LOG(debug, "TaskManager") << "Feed of a dropped channel downloaded, nothing reported: " << url;
    } else if (channel.uri() == url && !cancelled) {
        FEED_LOG(debug, "TaskManager") << "Feed" << url << "downloaded successfully.";
        emit feedsDownloaded(channel);
    } else if (cancelled) {
        FEED_LOG(debug, "TaskManager") << "Feed downloaded but also already cancelled, signalling cancel instead of success";
        emit feedsDownloadFailed(url, 201);
    } else {
        FEED_LOG(critical, "TaskManager") << "Feed downloaded but the plugin gave back another channel: "
                                          << channel.uri();
        emit feedsDownloadFailed(url, FeedPluginManager::NotSentError);
    }
}

void FeedTaskManager::feedsDownloadFailed(int errorCode)
{
    {
        const QScopedValueRollback<bool> turn(_looping, true);
        FEED_LOG(debug, "TaskManager") << "feed downloaded failed with erroCode:" << errorCode;
        if (!_currentTask.channelTask()) {
            FEED_LOG(critical, "TaskManager") << "Feed failure without a running channel task, ignored";
            return;
        }
        endFeedTask(errorCode);
        _pluginManager->resetActivePlugin();
    }
    startNextDownload();
}

// The task leaves before anything is reported, by the mark the scheduler gave it.
void FeedTaskManager::endFeedTask(int errorCode)
{
    const QString url = _currentTask.channelTask()->url();
    if (_currentTask.isDropped()) {
        FEED_LOG(debug, "TaskManager") << "Feed of a dropped channel failed, nothing reported: " << url;
        _currentTask.finish();
    } else if (_currentTask.stopReason() == FeedCurrentTask::SchedulerPause) {
        FEED_LOG(debug, "TaskManager") << "Enqueuing paused task";
        handBackCurrentTask(EnqueuePrepend);
        emit feedsDownloadFailed(url, 409);
    } else {
        FEED_LOG(debug, "TaskManager") << "Resetting current task to NULL";
        const bool cancelled = _currentTask.stopReason() == FeedCurrentTask::Cancel;
        _currentTask.finish();
        emit feedsDownloadFailed(url, cancelled ? 201 : errorCode);
    }
}

// A task whose process ended runs again, behind the tasks of its list, unless it was stopped,
// dropped, or has ended its plug-in too often: then it ends as a failed download.
void FeedTaskManager::pluginExited(const QString& type)
{
    {
        const QScopedValueRollback<bool> turn(_looping, true);
        FEED_LOG(critical, "TaskManager") << "Plugin exited: " << type;
        FeedTask* task = _currentTask.task();
        if (!task)
            return;
        const bool stopped = _currentTask.isDropped() || _currentTask.stopReason() != FeedCurrentTask::NotStopped;
        if (task->countExit() < MaximumPluginExits && !stopped) {
            handBackCurrentTask(EnqueueAppend);
        } else if (_currentTask.channelTask()) {
            FEED_LOG(critical, "TaskManager") << "Task not run again after its plugin exited " << task->exitCount()
                                              << " times";
            endFeedTask(FeedPluginManager::NotSentError);
        } else {
            // Seam: an enclosure task ends through the enclosure failure handling once it exists.
            _currentTask.finish();
        }
    }
    startNextDownload();
}

// Channel requests --------------------------------------------------------------------------

void FeedTaskManager::subscribe(const QStringList& uris)
{
    FEED_LOG(debug, "TaskManager") << "Subscribe Called, uris :" << uris;
    if (!_deviceStateManager->createConnection(false)) {
        FEED_LOG(debug, "Engine") << "Can not create network connection...";
        if (uris.size() == 1)
            emit feedsDownloadFailed(uris.first(), 201);
        else
            emit refreshState(201);
        return;
    }
    QList<FeedTask*> tasks;
    for (const QString& uri : uris)
        tasks.append(FeedChannelTask::create(FeedTask::SubscribePriority, uri));
    if (tasks.isEmpty())
        return;
    _queueManager->enqueueTask(tasks);
    FEED_LOG(debug, "TaskManager") << "queuing uris : " << uris;
    emit feedDownloadQueued(uris);
}

void FeedTaskManager::refresh(const QStringList& uriList)
{
    if (_deviceStateManager->deviceState() == FeedDeviceState::MassStorageMode)
        return;
    if (!_deviceStateManager->createConnection(false)) {
        FEED_LOG(debug, "Engine") << "Can not create network connection...";
        emit refreshState(201);
        return;
    }
    const QStringList channels = channelsForUris(uriList);
    if (channels.isEmpty()) {
        FEED_LOG(critical, "TaskManager") << "No channels are in the list";
        return;
    }
    QList<FeedTask*> tasks;
    for (const QString& channel : channels)
        tasks.append(FeedChannelTask::create(FeedTask::ManualRefreshPriority, channel));
    removeCurrentTask(tasks);
    if (tasks.isEmpty())
        return;
    emit feedDownloadQueued(uriList);
    _queueManager->enqueueTask(tasks);
}

// The stored channel URI of each requested one, in request order. One look at the store serves a
// refresh of many channels; a URI the store writes in another form is looked up on its own.
QStringList FeedTaskManager::channelsForUris(const QStringList& uris)
{
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    const QStringList stored = store->allChannelUrls();
    const QSet<QString> known(stored.cbegin(), stored.cend());
    QStringList channels;
    for (const QString& uri : uris) {
        if (uri.isEmpty())
            continue;
        if (known.contains(uri)) {
            channels.append(uri);
            continue;
        }
        const QString storedUri = store->channelForUri(uri).uri();
        if (!storedUri.isEmpty())
            channels.append(storedUri);
    }
    return channels;
}

void FeedTaskManager::autoRefresh(const QStringList& uriList)
{
    QList<FeedTask*> tasks;
    for (const QString& uri : uriList)
        tasks.append(FeedChannelTask::create(FeedTask::AutoRefreshPriority, uri));
    removeCurrentTask(tasks);
    if (tasks.isEmpty())
        return;
    emit feedDownloadQueued(uriList);
    _queueManager->enqueueTask(tasks);
}

void FeedTaskManager::startAutoRefresh()
{
    if (!FeedSettingsManager::instance()->refreshAutomatic()) {
        FEED_LOG(debug, "Engine") << "Auto refresh disabled";
        return;
    }
    const QStringList channels = _tracker->allChannelUrls();
    if (channels.isEmpty()) {
        FEED_LOG(debug, "Engine") << "No channels in tracker !";
        rearmHeartbeat();
        return;
    }
    if (!_deviceStateManager->createConnection(true)) {
        FEED_LOG(debug, "Engine") << "Can not create network connection, not enqueuing feed tasks";
        rearmHeartbeat();
        return;
    }
    if (FeedSettingsManager::instance()->refreshOnlyWifi() && !_deviceStateManager->isUsingWLAN()) {
        FEED_LOG(debug, "Engine") << "No active WLAN connection found";
        rearmHeartbeat();
        return;
    }
    autoRefresh(channels);
}

void FeedTaskManager::rearmHeartbeat()
{
    FeedUpdateManager::instance()->restartTimer();
}

void FeedTaskManager::cancel(const QString& channelUri)
{
    FEED_LOG(debug, "TaskManager") << "Cancel called for uri = " << channelUri;
    _queueManager->clearChannel(channelUri, true);
    _enclosureCount.remove(channelUri);
    FeedChannelTask* task = _currentTask.channelTask();
    if (task && task->matchesChannel(channelUri)) {
        FEED_LOG(critical, "TaskManager") << "Going to cancel current ongoing feed download: " << channelUri;
        _currentTask.markStopped(FeedCurrentTask::Cancel);
        _pluginManager->cancelDownload(false);
        return;
    }
    emit feedsDownloadFailed(channelUri, 201);
}

void FeedTaskManager::cancelRefresh(const QStringList& uriList)
{
    for (const QString& uri : uriList)
        cancel(uri);
}

// The running task of the channel is dropped, not only cancelled: whatever its plug-in still
// reports must neither write the channel back into the store nor be reported again.
void FeedTaskManager::unsubscribe(const QString& channelUri)
{
    FEED_LOG(debug, "TaskManager") << "Unsubscribe called for uri = " << channelUri;
    _queueManager->clearChannel(channelUri, false);
    FeedTask* task = _currentTask.task();
    if (task && task->matchesChannel(channelUri) && !_currentTask.isDropped()) {
        _currentTask.markDropped();
        _currentTask.markStopped(FeedCurrentTask::Cancel);
        emit feedsDownloadFailed(channelUri, 201);
        FEED_LOG(critical, "TaskManager") << "Going to cancel current ongoing download: " << channelUri;
        _pluginManager->cancelDownload(false);
    }
    _enclosureCount.remove(channelUri);
    emit feedsUnsubscribed(QStringList{channelUri});
}

QStringList FeedTaskManager::queuedFeeds()
{
    QStringList uris;
    for (const QList<FeedTask*>* tasks : {&_queueManager->subscriptionTasks(), &_queueManager->refreshTasks()}) {
        for (FeedTask* task : *tasks)
            uris.append(static_cast<FeedChannelTask*>(task)->url());
    }
    if (const FeedChannelTask* task = _currentTask.channelTask()) {
        if (!_currentTask.isDropped())
            uris.append(task->url());
    }
    return uris;
}

// Enclosure requests ------------------------------------------------------------------------

// Seam: only the road's part is built: a channel without essential enclosures is complete at once;
// any other list waits for the enclosure downloads.
void FeedTaskManager::downloadEnclosure(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                                        FeedTask::Priority priority)
{
    FEED_LOG(debug, "TaskManager") << "Channel uri: " << channelUri << "\n Enclosure count: " << enclosures.size();
    if (enclosures.isEmpty() && priority == FeedTask::EssentialEnclosurePriority) {
        emit refreshCompleted(channelUri);
        return;
    }
    FEED_LOG(debug, "TaskManager") << "Enclosure downloads not available yet, nothing queued for" << channelUri
                                   << "at priority" << priority;
}

QStringList FeedTaskManager::queuedOptionalEnclosures()
{
    QStringList uris;
    for (const QList<FeedTask*>* tasks :
         {&_queueManager->manualEnclosureTasks(), &_queueManager->optionalEnclosureTasks()}) {
        for (FeedTask* task : *tasks)
            uris.append(static_cast<FeedEnclosureTask*>(task)->enclosure().uri());
    }
    if (const FeedEnclosureTask* task = _currentTask.enclosureTask())
        uris.append(task->enclosure().uri());
    return uris;
}

// Everything else ---------------------------------------------------------------------------

// The running task ends when the plug-in reports its stop; marked, so that a result already on
// its way counts as cancelled.
void FeedTaskManager::cancelAll()
{
    if (_currentTask.isSet())
        _currentTask.markStopped(FeedCurrentTask::Cancel);
    _pluginManager->cancelDownload(false);
    _queueManager->clearAll();
}

FeedDeviceStateManager* FeedTaskManager::deviceStateManager()
{
    return _deviceStateManager;
}

// Seam: FeedTransferHelper::instance()->transferDetails() once the transfer list exists; until
// then no transfer library is loaded, and that answer is an empty map.
QVariantMap FeedTaskManager::transferDetails(const QString& transferId, const QStringList& fields)
{
    FEED_LOG(debug, "TaskManager") << "No transfer list loaded, no details for" << transferId << fields;
    return QVariantMap();
}
