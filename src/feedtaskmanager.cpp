#include "feedtaskmanager.h"

#include "feedchanneltask.h"
#include "feeddevicestatemanager.h"
#include "feedenclosurecompletion.h"
#include "feedenclosurelist.h"
#include "feedenclosuretask.h"
#include "feedlog.h"
#include "feedpluginmanager.h"
#include "feedprocesslauncher.h"
#include "feedqueuemanager.h"
#include "feedsettingsmanager.h"
#include "feedtrackersparql.h"
#include "feedtransferhelper.h"
#include "feedtuimanager.h"
#include "feedupdatemanager.h"
#include "virelon.h"
#include "virelonpaths.h"

#include <QDir>
#include <QMutex>
#include <QSettings>


namespace {

QMutex instanceMutex;
FeedTaskManager* single = nullptr;
// Set while the one scheduler is being made: a call back from inside must not wait for the lock
// its own caller holds.
bool constructing = false;

// Feed error codes that the scheduler's requests send themselves.
constexpr int CancelledCode = 201;
constexpr int NoConnectionCode = 409;
constexpr int ListNoConnectionCode = 400;

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
        // Both connect to the scheduler through instance(), which now returns at once.
        FeedProcessLauncher::instance();
        FeedTransferHelper::instance();
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
        FeedTUIManager::releaseInstance();
        FeedTransferHelper::releaseInstance();
        FeedProcessLauncher::releaseInstance();
    }
    instanceMutex.unlock();
    FEED_LOG(debug, "TaskManager") << "mutex unlocked";
}

FeedTaskManager::FeedTaskManager()
    : _deviceStateManager(nullptr)
    , _tracker(nullptr)
    , _pluginManager(nullptr)
    , _queueManager(nullptr)
    , _virelon(nullptr)
    , _completion(nullptr)
    , _runner(nullptr)
    , _currentTask(nullptr)
{
    _queueManager = FeedQueueManager::instance();
    _pluginManager = FeedPluginManager::instance();
    _tracker = FeedTrackerSparql::instance();
    _deviceStateManager = FeedDeviceStateManager::instance();
    _virelon = Virelon::instance();
    _completion = new FeedEnclosureCompletion(_queueManager, this);
    _runner = new FeedTaskRunner(_queueManager, _pluginManager, _tracker, _completion, &_pauses, this);
    _currentTask = &_runner->currentTask();
    makeConnections();
    createEnclosureDir();
    removeStaleChannelErrors();
}

FeedTaskManager::~FeedTaskManager()
{
    FEED_LOG(debug, "TaskManager") << "clear task manager";
}

void FeedTaskManager::makeConnections()
{
    connect(_queueManager, SIGNAL(taskAdded()), _runner, SLOT(startNextDownload()));
    connect(_pluginManager, SIGNAL(downloadFeedsFinished()), _runner, SLOT(feedsDownloaded()));
    connect(_pluginManager, SIGNAL(downloadFeedsFailed(int)), _runner, SLOT(feedsDownloadFailed(int)));
    connect(_pluginManager, SIGNAL(downloadEnclosureFailed(int)), _runner, SLOT(enclosureDownloadFailed(int)));
    connect(_pluginManager, SIGNAL(downloadEnclosureFinished(QVariantMap)), _runner,
            SLOT(enclosureDownloaded(QVariantMap)));
    connect(_pluginManager, SIGNAL(pluginExited(QString)), _runner, SLOT(pluginExited(QString)));
    connect(_deviceStateManager, SIGNAL(deviceStateChanged(FeedDeviceState::State,FeedDeviceState::Change)), this,
            SLOT(handleDeviceStateChange(FeedDeviceState::State,FeedDeviceState::Change)));
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
    relay(_runner, {SIGNAL(awake()), SIGNAL(sleep()), SIGNAL(feedsDownloaded(FeedChannel)),
                    SIGNAL(feedDownloadStarted(QString)), SIGNAL(feedsDownloadFailed(QString,int)),
                    SIGNAL(enclosureDownloadStarted(FeedChannel,FeedEnclosure)),
                    SIGNAL(enclosureDownloadProgress(FeedEnclosure,qlonglong,qlonglong,qlonglong))});
    relay(_completion, {SIGNAL(refreshCompleted(QString)), SIGNAL(enclosureDownloaded(QString,FeedEnclosure,qlonglong)),
                        SIGNAL(enclosureDownloadFailed(QString,FeedEnclosure,int,qlonglong)), SIGNAL(refreshState(int))});
}

// Signals of the scheduler's own parts go out as the scheduler's, unchanged.
void FeedTaskManager::relay(QObject* part, std::initializer_list<const char*> signatures)
{
    for (const char* signature : signatures)
        connect(part, signature, this, signature);
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

// A task that is being stopped or dropped is no copy of the request: that one is queued.
void FeedTaskManager::removeCurrentTask(QList<FeedTask*>& tasks)
{
    FeedTask* current = _currentTask->task();
    if (!current || tasks.isEmpty()) {
        FEED_LOG(debug, "TaskManager") << "No current task OR taskList empty !";
        return;
    }
    if (_currentTask->isCancelled())
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
    // A channel refreshed again is read again, also when no task is queued now: its link may
    // have been changed meanwhile, and a task of it may still wait.
    _runner->roundChannels().forget(uriList);
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

// The requested URIs whose channels are stored, in request order. A slice of the list a query:
// a query per URI would hold every other request for long.
QStringList FeedTaskManager::channelsForUris(const QStringList& uris)
{
    return FeedTrackerSparql::instance()->storedChannelUris(uris);
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
    _completion->forget(channelUri);
    FeedChannelTask* task = _currentTask->channelTask();
    if (task && task->matchesChannel(channelUri)) {
        FEED_LOG(critical, "TaskManager") << "Going to cancel current ongoing feed download: " << channelUri;
        _currentTask->markStopped(FeedCurrentTask::Cancel);
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
    FeedTask* task = _currentTask->task();
    if (task && task->matchesChannel(channelUri) && !_currentTask->isDropped()) {
        _currentTask->markDropped();
        _currentTask->markStopped(FeedCurrentTask::Cancel);
        emit feedsDownloadFailed(channelUri, 201);
        FEED_LOG(critical, "TaskManager") << "Going to cancel current ongoing download: " << channelUri;
        _pluginManager->cancelDownload(false);
    }
    _completion->forget(channelUri);
    emit feedsUnsubscribed(QStringList{channelUri});
}

QStringList FeedTaskManager::queuedFeeds()
{
    QStringList uris;
    for (const QList<FeedTask*>* tasks : {&_queueManager->subscriptionTasks(), &_queueManager->refreshTasks()}) {
        for (FeedTask* task : *tasks)
            uris.append(static_cast<FeedChannelTask*>(task)->url());
    }
    if (const FeedChannelTask* task = _currentTask->channelTask()) {
        if (!_currentTask->isDropped())
            uris.append(task->url());
    }
    return uris;
}

// Enclosure requests ------------------------------------------------------------------------

void FeedTaskManager::downloadEnclosure(const QString& channelUri, const FeedEnclosure& enclosure)
{
    ManualRequest request;
    downloadEnclosure(channelUri, enclosure, request);
}

void FeedTaskManager::downloadEachEnclosure(const QString& channelUri, const QList<FeedEnclosure>& enclosures)
{
    ManualRequest request;
    for (const FeedEnclosure& enclosure : enclosures)
        downloadEnclosure(channelUri, enclosure, request);
}

void FeedTaskManager::downloadEnclosure(const QString& channelUri, const FeedEnclosure& enclosure,
                                        ManualRequest& request)
{
    FEED_LOG(debug, "TaskManager") << "Channel uri: " << channelUri << "\n Enclosure uri: " << enclosure.uri();
    if (enclosure.remoteUrl().isEmpty()) {
        FEED_LOG(debug, "TaskManager") << "Not downloading, not a valid enclosure";
        return;
    }
    if (!request.channel)
        request.channel = _tracker->channelForUri(channelUri);
    if (request.channel->uri().isEmpty()) {
        FEED_LOG(debug, "TaskManager") << "Channel is not available";
        return;
    }
    if (!request.connected)
        request.connected = _deviceStateManager->createConnection(false);
    queueManualDownload(*request.channel, enclosure, *request.connected);
}

// A download being stopped for good is no copy of the request: that one is queued.
void FeedTaskManager::queueManualDownload(const FeedChannel& channel, const FeedEnclosure& enclosure, bool connected)
{
    if (!connected) {
        FEED_LOG(debug, "Engine") << "Can not create network connection...";
        emit enclosureDownloadFailed(channel.uri(), enclosure, NoConnectionCode, 0);
        return;
    }
    if (isRunning(channel.uri(), enclosure) && !_currentTask->isDropped()
        && _currentTask->stopReason() <= FeedCurrentTask::SchedulerPause) {
        FEED_LOG(debug, "TaskManager") << "Task already in queue. Skipping: " << enclosure;
        return;
    }
    emit manualEnclosureDownloadQueued(channel, enclosure);
    auto* task = new FeedEnclosureTask(FeedTask::ManualEnclosurePriority, channel.uri(), enclosure);
    if (!_queueManager->enqueueTask(task, EnqueueAppend))
        delete task;
}

void FeedTaskManager::downloadEnclosure(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                                        FeedTask::Priority priority)
{
    queueEnclosures(channelUri, enclosures, priority, priority == FeedTask::EssentialEnclosurePriority);
}

// The refresh of the channel has ended otherwise: none of these downloads completes it.
void FeedTaskManager::downloadUncountedEnclosures(const QString& channelUri, const QList<FeedEnclosure>& enclosures)
{
    if (!enclosures.isEmpty())
        queueEnclosures(channelUri, enclosures, FeedTask::EssentialEnclosurePriority, false);
}

// A refresh counts only the downloads the queue takes, so that each of them ends its count, and
// those of its images that already wait or run for no refresh, or for one that ended otherwise;
// one with nothing left to download is complete at once, unless earlier downloads of it still run.
void FeedTaskManager::queueEnclosures(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                                      FeedTask::Priority priority, bool completeRefresh)
{
    FEED_LOG(debug, "TaskManager") << "Channel uri: " << channelUri << "\n Enclosure count: " << enclosures.size();
    if (enclosures.isEmpty() && completeRefresh) {
        _completion->complete(channelUri);
        return;
    }
    if (_pauses.enclosurePausedByUser)
        return;
    const QList<FeedEnclosure> requested = FeedEnclosureList::withStoreUris(enclosures, *_tracker);
    if (priority == FeedTask::ManualEnclosurePriority) {
        queueManualDownloads(channelUri, requested);
        return;
    }
    if (!_deviceStateManager->createConnection(false)) {
        FEED_LOG(debug, "Engine") << "Can not create network connection...";
        emit enclosureDownloadError(FeedEnclosureList::uris(requested), ListNoConnectionCode, 0);
        return;
    }
    QList<FeedEnclosureTask*> waiting;
    QList<FeedTask*> tasks = FeedEnclosureList::newTasks(channelUri, requested, priority, *_queueManager, &waiting);
    if (FeedEnclosureTask* running = runningEqualTask(channelUri, requested, priority))
        waiting.append(running);
    removeCurrentTask(tasks);
    const QList<FeedEnclosureTask*> adopted = completeRefresh ? uncountedTasks(channelUri, waiting)
                                                              : QList<FeedEnclosureTask*>();
    if (tasks.isEmpty() && adopted.isEmpty()) {
        if (completeRefresh && !_completion->isWaitingFor(channelUri))
            _completion->complete(channelUri);
        return;
    }
    if (completeRefresh) {
        const quint64 refresh = _completion->expect(channelUri, tasks.size() + adopted.size());
        for (FeedTask* task : tasks)
            static_cast<FeedEnclosureTask*>(task)->countFor(refresh);
        for (FeedEnclosureTask* task : adopted)
            task->countFor(refresh);
    }
    if (tasks.isEmpty())
        return;
    _queueManager->enqueueTask(tasks);
    if (priority != FeedTask::OptionalEnclosurePriority)
        return;
    const FeedChannel channel = _tracker->channelForUri(channelUri);
    if (!channel.uri().isEmpty())
        emit autoEnclosureDownloadQueued(channel, enclosures);
}

// The running download of one of the enclosures, when it is one of this kind that goes on.
FeedEnclosureTask* FeedTaskManager::runningEqualTask(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                                                    FeedTask::Priority priority) const
{
    FeedEnclosureTask* task = _currentTask->enclosureTask();
    if (!task || task->priority() != priority || _currentTask->isCancelled() || !task->matchesChannel(channelUri)
        || !enclosures.contains(task->enclosure()))
        return nullptr;
    return task;
}

// The downloads that do not count for the channel's open refresh.
QList<FeedEnclosureTask*> FeedTaskManager::uncountedTasks(const QString& channelUri,
                                                         const QList<FeedEnclosureTask*>& tasks) const
{
    const quint64 open = _completion->openRefresh(channelUri);
    QList<FeedEnclosureTask*> uncounted;
    for (FeedEnclosureTask* task : tasks) {
        if (!open || task->refresh() != open)
            uncounted.append(task);
    }
    return uncounted;
}

// One connection for the whole list.
void FeedTaskManager::queueManualDownloads(const QString& channelUri, const QList<FeedEnclosure>& enclosures)
{
    const FeedChannel channel = _tracker->channelForUri(channelUri);
    if (channel.uri().isEmpty()) {
        FEED_LOG(debug, "TaskManager") << "Channel is not available";
        return;
    }
    const bool connected = _deviceStateManager->createConnection(false);
    for (const FeedEnclosure& enclosure : enclosures) {
        FEED_LOG(debug, "TaskManager") << "Channel uri: " << channelUri << "\n Enclosure uri: " << enclosure.uri();
        if (enclosure.remoteUrl().isEmpty())
            FEED_LOG(debug, "TaskManager") << "Not downloading, not a valid enclosure";
        else
            queueManualDownload(channel, enclosure, connected);
    }
}

void FeedTaskManager::resumeEnclosureList(const QString& channelUri, const QList<FeedEnclosure>& enclosureList)
{
    _pauses.enclosurePausedByUser = false;
    downloadEnclosure(channelUri, enclosureList, FeedTask::EssentialEnclosurePriority);
}

bool FeedTaskManager::isRunning(const QString& channelUri, const FeedEnclosure& enclosure) const
{
    FeedEnclosureTask* task = _currentTask->enclosureTask();
    return task && task->matchesChannel(channelUri) && task->enclosure() == enclosure;
}

QStringList FeedTaskManager::queuedOptionalEnclosures()
{
    QStringList uris;
    for (const QList<FeedTask*>* tasks :
         {&_queueManager->manualEnclosureTasks(), &_queueManager->optionalEnclosureTasks()}) {
        for (FeedTask* task : *tasks)
            uris.append(static_cast<FeedEnclosureTask*>(task)->enclosure().uri());
    }
    if (const FeedEnclosureTask* task = _currentTask->enclosureTask()) {
        if (!_currentTask->isCancelled())
            uris.append(task->enclosure().uri());
    }
    return uris;
}

// Cancelling and pausing enclosure downloads ------------------------------------------------
//
// A running download is only marked and asked to stop: its end comes back from the plug-in, and
// the mark tells the failure handling what to keep.

void FeedTaskManager::stopEnclosure(FeedCurrentTask::StopReason reason)
{
    _currentTask->markStopped(reason);
    _pluginManager->cancelDownload(reason != FeedCurrentTask::Cancel);
}

// Cancelled once, whatever else pauses the scheduler; a waiting download's ".part" goes with a
// cancel, never with a pause.
void FeedTaskManager::cancelDownloadEnclosure(const QString& channelUri, const FeedEnclosure& enc, bool pause)
{
    FEED_LOG(debug, "TaskManager") << "Channel uri: " << channelUri << "Enclosure uri: " << enc.uri();
    if (isRunning(channelUri, enc)) {
        stopEnclosure(pause ? FeedCurrentTask::UserPause : FeedCurrentTask::Cancel);
        return;
    }
    FeedEnclosureTask probe(FeedTask::ManualEnclosurePriority, channelUri, enc);
    _queueManager->removeTask(&probe);
    if (!pause) {
        FEED_LOG(debug, "TaskManager") << "Deleting enclosure file...";
        FeedEnclosureTask::deleteTempFile(enc);
    }
    emit enclosureDownloadFailed(channelUri, enc, CancelledCode, 0);
}

void FeedTaskManager::pauseEnclosure(const QString& channelUri, const FeedEnclosure& enclosure)
{
    cancelDownloadEnclosure(channelUri, enclosure, true);
}

void FeedTaskManager::cancelDownloadEnclosure(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                                              bool pause)
{
    _pauses.enclosurePausedByUser = false;
    for (const FeedEnclosure& enclosure : enclosures) {
        FeedEnclosureTask probe(FeedTask::OptionalEnclosurePriority, channelUri, enclosure);
        _queueManager->removeTask(&probe);
    }
    const FeedEnclosureTask* task = _currentTask->enclosureTask();
    if (task && isRunning(channelUri, task->enclosure()) && enclosures.contains(task->enclosure()))
        stopEnclosure(pause ? FeedCurrentTask::UserPause : FeedCurrentTask::Cancel);
}

// Essential downloads taken out unrun end their channels' counts like any other end.
void FeedTaskManager::cancelDownloadEnclosure(const QList<FeedEnclosure>& enclosureList)
{
    if (enclosureList.isEmpty()) {
        FEED_LOG(critical, "TaskManager") << "Invalid input";
        return;
    }
    if (!_queueManager->isEmpty(FeedTask::EnclosureTaskType, FeedTask::AnyPriority)) {
        QList<quint64> refreshes;
        for (const FeedEnclosure& enclosure : enclosureList) {
            FeedEnclosureTask probe(FeedTask::AnyPriority, QString(), enclosure);
            if (_queueManager->removeTask(&probe, &refreshes))
                emit enclosureDownloadFailed(QString(), enclosure, CancelledCode, 0);
        }
        _completion->endedUnrun(refreshes);
    }
    const FeedEnclosureTask* task = _currentTask->enclosureTask();
    if (task && enclosureList.contains(task->enclosure()))
        stopEnclosure(FeedCurrentTask::Cancel);
}

// Pause, resume and device state ------------------------------------------------------------

void FeedTaskManager::handleDeviceStateChange(FeedDeviceState::State state, FeedDeviceState::Change change)
{
    FEED_LOG(debug, "TaskManager") << "Device state:" << int(state);
    if (change == FeedDeviceState::NetworkChange)
        connectionStateChanged(state);
    else if (change == FeedDeviceState::UsbChange)
        usbStateChanged(state);
    else
        FEED_LOG(debug, "TaskManager") << "Unknown kind of device state change:" << int(change);
}

void FeedTaskManager::connectionStateChanged(const FeedDeviceState::State& state)
{
    FEED_LOG(debug, "TaskManager") << "Connection state:" << int(state);
    if (state & FeedDeviceState::NetworkDisconnected) {
        emit refreshState(409);
        pause();
    } else {
        emit refreshState(410);
        resume();
    }
}

void FeedTaskManager::usbStateChanged(const FeedDeviceState::State& state)
{
    if (state & FeedDeviceState::MassStorageMode) {
        FEED_LOG(debug, "TaskManager") << "Entered Mass storage mode:";
        emit refreshState(204);
        pauseEnclosures(false);
    } else {
        FEED_LOG(debug, "TaskManager") << "Came out of Mass storage mode:";
        emit refreshState(205);
        resumeEnclosures(false);
    }
}

// A feed is fetched again later; an enclosure keeps its ".part" and runs again first.
void FeedTaskManager::pause()
{
    if (_pauses.paused) {
        FEED_LOG(debug, "TaskManager") << "Not pausing, Already paused";
        return;
    }
    _pauses.paused = true;
    if (!_currentTask->isSet())
        return;
    _currentTask->markStopped(FeedCurrentTask::SchedulerPause);
    const bool enclosure = _currentTask->enclosureTask();
    FEED_LOG(debug, "TaskManager") << (enclosure ? "Pausing enclosure download" : "Canceling feed download");
    _pluginManager->cancelDownload(enclosure);
}

void FeedTaskManager::resume()
{
    FEED_LOG(debug, "TaskManager") << "Resuming task...";
    _pauses.paused = false;
    _runner->startNextDownload();
}

// Only a download into the enclosure folder stops: a feed being fetched goes on.
void FeedTaskManager::pauseEnclosures(bool userInitiated)
{
    if (userInitiated)
        _pauses.enclosurePausedByUser = true;
    else
        _pauses.enclosurePausedByDevice = true;
    if (_currentTask->enclosureTask())
        stopEnclosure(userInitiated ? FeedCurrentTask::UserPause : FeedCurrentTask::SchedulerPause);
}

void FeedTaskManager::resumeEnclosures(bool userInitiated)
{
    FEED_LOG(debug, "TaskManager") << "Resuming enclosure downloads ...";
    if (userInitiated)
        _pauses.enclosurePausedByUser = false;
    else
        _pauses.enclosurePausedByDevice = false;
    _runner->startNextDownload();
}

// Everything else ---------------------------------------------------------------------------

// The running task ends when the plug-in reports its stop; marked, so that a result already on
// its way counts as cancelled. No refresh waits for its enclosures any more.
void FeedTaskManager::cancelAll()
{
    if (_currentTask->isSet())
        _currentTask->markStopped(FeedCurrentTask::Cancel);
    _pluginManager->cancelDownload(false);
    _queueManager->clearAll();
    _completion->forgetAll();
}

FeedDeviceStateManager* FeedTaskManager::deviceStateManager()
{
    return _deviceStateManager;
}

QVariantMap FeedTaskManager::transferDetails(const QString& transferId, const QStringList& fields)
{
    return FeedTransferHelper::instance()->transferDetails(transferId, fields);
}
