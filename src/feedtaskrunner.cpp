#include "feedtaskrunner.h"

#include "feedchanneltask.h"
#include "feedenclosurecompletion.h"
#include "feedenclosuretarget.h"
#include "feedenclosuretask.h"
#include "feedlog.h"
#include "feednetworkmanager.h"
#include "feedpluginmanager.h"
#include "feedqueuemanager.h"
#include "feedsettingsmanager.h"
#include "feedtrackersparql.h"

#include <QFileInfo>
#include <QScopedValueRollback>
#include <QTimer>

namespace {

// The third time the plug-in process ends under one task, the task is given up.
constexpr int MaximumPluginExits = 3;
constexpr int DefaultRetryInterval = 5000;

// Feed error codes of enclosure downloads that the scheduler sends itself.
constexpr int CancelledCode = 201;
constexpr int PausedCode = 203;
constexpr int NotFinalisedCode = 407;
constexpr int NotOnWlanCode = 411;

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

FeedTaskRunner::FeedTaskRunner(FeedQueueManager* queue, FeedPluginManager* plugins, FeedTrackerSparql* store,
                               FeedEnclosureCompletion* completion, const FeedPauses* pauses, QObject* parent)
    : QObject(parent)
    , _queueManager(queue)
    , _pluginManager(plugins)
    , _tracker(store)
    , _completion(completion)
    , _pauses(pauses)
    , _roundChannels(store, queue)
    , _retry(new QTimer(this))
{
    _retry->setSingleShot(true);
    _retry->setInterval(retryInterval());
    connect(_retry, SIGNAL(timeout()), this, SLOT(startNextDownload()));
}

// The loop ---------------------------------------------------------------------------------

void FeedTaskRunner::startNextDownload()
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

void FeedTaskRunner::runNextTask()
{
    if (!canStartNextDownload()) {
        FEED_LOG(debug, "TaskManager") << "Returning !";
        return;
    }
    if (_queueManager->isEmpty(FeedTask::AnyTaskType, FeedTask::AnyPriority)) {
        FEED_LOG(debug, "TaskManager") << "feed transfer done";
        _sleeping = true;
        _roundChannels.clear();
        _pluginManager->unloadPlugins();
        emit sleep();
        return;
    }
    FEED_LOG(debug, "TaskManager") << "Starting download....";
    if (_sleeping) {
        emit awake();
        _sleeping = false;
    }
    FEED_LOG(debug, "TaskManager") << "_pauses->enclosurePausedByUser: " << flagText(_pauses->enclosurePausedByUser);
    FEED_LOG(debug, "TaskManager") << "_pauses->enclosurePausedByDevice: " << flagText(_pauses->enclosurePausedByDevice);
    FeedTask* task = _queueManager->dequeueTask(FeedTask::AnyTaskType);
    if (!task)
        return;
    _currentTask.start(task);
    processTask(task);
}

bool FeedTaskRunner::canStartNextDownload()
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
        if (!_pauses->paused && !_pauses->enclosurePausedByDevice)
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
void FeedTaskRunner::retryLater()
{
    if (!_retry->isActive() && !_queueManager->isEmpty(FeedTask::AnyTaskType, FeedTask::AnyPriority))
        _retry->start();
}

void FeedTaskRunner::processTask(FeedTask* task)
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

void FeedTaskRunner::processTask(FeedChannelTask* task)
{
    FEED_LOG(debug, "TaskManager") << "Processing channel task...";
    bool read = false;
    const FeedChannel channel = _roundChannels.take(task->url(), &read);
    if (!read) {
        failRefresh(task->url(), 202);
        return;
    }
    if (channel.uri().isEmpty()) {
        FEED_LOG(critical, "TaskManager") << "No channels are in the list";
        _currentTask.finish();
        startNextDownload();
        return;
    }
    if (task->priority() == FeedTask::AutoRefreshPriority && FeedSettingsManager::instance()->refreshOnlyWifi()
        && !FeedNetworkManager::instance()->isUsingWLAN()) {
        FEED_LOG(debug, "TaskManager") << "Auto feed refresh skipped, not on wifi.";
        failRefresh(channel.uri(), 411);
        return;
    }
    emit feedDownloadStarted(channel.uri());
    _pluginManager->downloadFeeds(channel);
}

// The task ends unrun, and the refresh of its channel fails with the code.
void FeedTaskRunner::failRefresh(const QString& channelUri, int errorCode)
{
    const quint64 ticket = _currentTask.ticket();
    emit feedsDownloadFailed(channelUri, errorCode);
    if (_currentTask.isCurrent(ticket))
        _currentTask.finish();
    startNextDownload();
}

// A channel deleted meanwhile has no refresh left to complete: its count goes, and nothing is said.
void FeedTaskRunner::processTask(FeedEnclosureTask* task)
{
    FEED_LOG(debug, "TaskManager") << "Processing enclosure task..." << static_cast<void*>(task);
    const FeedEnclosure enclosure = task->enclosure();
    FEED_LOG(debug, "TaskManager") << "Enclosure link to download is : " << enclosure.remoteUrl();
    bool read = false;
    const FeedChannel channel = _tracker->channelForUri(task->channel(), &read);
    const FeedTask::Priority priority = task->priority();
    if (!read) {
        endUnreadEnclosureTask(enclosure);
        return;
    }
    if (channel.uri().isEmpty()) {
        FEED_LOG(critical, "TaskManager") << "Channel is not available";
        _completion->forget(task->channel());
        _currentTask.finish();
        startNextDownload();
        return;
    }
    if (priority == FeedTask::EssentialEnclosurePriority) {
        download(channel, enclosure, false);
        return;
    }
    if (priority == FeedTask::ManualEnclosurePriority)
        FEED_LOG(debug, "TaskManager") << "Going to emit signal for manual enclosure download started";
    const quint64 ticket = _currentTask.ticket();
    emit enclosureDownloadStarted(channel, enclosure);
    if (_currentTask.isCurrent(ticket))
        download(channel, enclosure, priority == FeedTask::ManualEnclosurePriority);
}

// The store could not say whether the channel is there: the refresh this download counts for
// ends with the store's error, as any other download that tells its end does.
void FeedTaskRunner::endUnreadEnclosureTask(const FeedEnclosure& enclosure)
{
    const FeedEnclosureTask* task = _currentTask.enclosureTask();
    const QString channelUri = task->channel();
    FEED_LOG(critical, "TaskManager") << "Channel not read, enclosure not downloaded: " << channelUri;
    if (task->refresh() && task->refresh() == _completion->openRefresh(channelUri)) {
        _completion->forget(channelUri);
        failRefresh(channelUri, FeedPluginManager::NotSentError);
        return;
    }
    finishEnclosureTask(enclosure, FeedPluginManager::NotSentError);
    startNextDownload();
}

// Ends the run the ticket names, if it still runs, and frees the plug-in for the next task.
void FeedTaskRunner::endCurrentTask(quint64 ticket)
{
    if (_currentTask.isCurrent(ticket))
        _currentTask.finish();
    _pluginManager->resetActivePlugin();
}

// The task goes back into the queue while it is still current, so that the loop the queue wakes
// leaves it alone. Refused when an equal task waits already; the task is then still current.
bool FeedTaskRunner::handBackCurrentTask(EnqueueType enqueueType)
{
    if (_queueManager->enqueueTask(_currentTask.task(), enqueueType)) {
        _currentTask.release();
        return true;
    }
    FEED_LOG(debug, "TaskManager") << "An equal task waits already, the handed back one ends";
    return false;
}

// Feed results ------------------------------------------------------------------------------
//
// A result slot ends its task as a turn of the loop: whatever its signals set off (a request
// that queues a task) waits until the task is gone and the plug-in is free, then the loop runs.

void FeedTaskRunner::feedsDownloaded()
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
void FeedTaskRunner::reportFeed(const QString& url, const FeedChannel& channel, quint64 ticket)
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

void FeedTaskRunner::feedsDownloadFailed(int errorCode)
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
void FeedTaskRunner::endFeedTask(int errorCode)
{
    const QString url = _currentTask.channelTask()->url();
    if (_currentTask.isDropped()) {
        FEED_LOG(debug, "TaskManager") << "Feed of a dropped channel failed, nothing reported: " << url;
        _currentTask.finish();
    } else if (_currentTask.stopReason() == FeedCurrentTask::SchedulerPause) {
        FEED_LOG(debug, "TaskManager") << "Enqueuing paused task";
        if (!handBackCurrentTask(EnqueuePrepend))
            _currentTask.finish();
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
void FeedTaskRunner::pluginExited(const QString& type)
{
    {
        const QScopedValueRollback<bool> turn(_looping, true);
        FEED_LOG(critical, "TaskManager") << "Plugin exited: " << type;
        FeedTask* task = _currentTask.task();
        if (!task)
            return;
        const FeedEnclosureTask* enclosureTask = _currentTask.enclosureTask();
        if (enclosureTask)
            disconnectProgress();
        const bool stopped = _currentTask.isDropped() || _currentTask.stopReason() != FeedCurrentTask::NotStopped;
        if (stopped || task->countExit() >= MaximumPluginExits) {
            if (!stopped)
                FEED_LOG(critical, "TaskManager") << "Task not run again after its plugin exited "
                                                  << task->exitCount() << " times";
            if (enclosureTask)
                endEnclosureTask(FeedPluginManager::NotSentError);
            else
                endFeedTask(FeedPluginManager::NotSentError);
        } else if (!handBackCurrentTask(EnqueueAppend)) {
            if (enclosureTask)
                finishEnclosureTask(enclosureTask->enclosure(), FeedPluginManager::NotSentError);
            else
                _currentTask.finish();
        }
    }
    startNextDownload();
}

// Enclosure downloads -----------------------------------------------------------------------

// Nothing is written, and the plug-in is not asked, for a path that FeedEnclosureTarget refuses.
void FeedTaskRunner::download(const FeedChannel& channel, const FeedEnclosure& enclosure, bool reportProgress)
{
    FEED_LOG(debug, "TaskManager") << "Downloading enclosure..." << enclosure.remoteUrl() << "of" << channel.uri();
    QString reason;
    if (!FeedEnclosureTarget::isAcceptable(enclosure.localUrl(), &reason)) {
        FEED_LOG(critical, "TaskManager") << "Enclosure not downloaded," << reason << ":" << enclosure.localUrl();
        finishEnclosureTask(enclosure, FeedPluginManager::NotSentError);
        startNextDownload();
        return;
    }
    if (QFileInfo::exists(enclosure.localUrl())) {
        FEED_LOG(debug, "TaskManager") << "Skipping enclosure download, enclosure is already downloaded";
        finishEnclosureTask(enclosure);
        startNextDownload();
        return;
    }
    if (enclosure.type() == FeedEnclosure::Optional && FeedSettingsManager::instance()->enclosureOnlyWifi()
        && !FeedNetworkManager::instance()->isUsingWLAN()) {
        FEED_LOG(debug, "TaskManager") << "Not meeting Enclosure Download Critiria...";
        finishEnclosureTask(enclosure, NotOnWlanCode);
        startNextDownload();
        return;
    }
    FeedEnclosure target = FeedEnclosureTask::tempFileEnclosure(enclosure);
    // The plug-in bounds in size and time what it is handed as essential: the images a refresh
    // queues, which hold up the work behind them. One a user asked for is theirs to wait for.
    if (_currentTask.enclosureTask()->priority() != FeedTask::EssentialEnclosurePriority)
        target.setType(FeedEnclosure::Optional);
    FEED_LOG(debug, "TaskManager") << "Enclosure temp filename:" << target.localUrl();
    const QFileInfo part(target.localUrl());
    const bool resume = part.exists();
    if (reportProgress) {
        _progress.start(resume ? part.size() : 0);
        connect(_pluginManager, SIGNAL(enclosureDownloadProgress(qlonglong,qlonglong)), this,
                SLOT(enclosureDownloadProgress(qlonglong,qlonglong)), Qt::UniqueConnection);
    }
    _pluginManager->downloadEnclosure(target, resume);
}

void FeedTaskRunner::disconnectProgress()
{
    disconnect(_pluginManager, SIGNAL(enclosureDownloadProgress(qlonglong,qlonglong)), this,
               SLOT(enclosureDownloadProgress(qlonglong,qlonglong)));
}

void FeedTaskRunner::enclosureDownloadProgress(qlonglong bytesReceived, qlonglong bytesTotal)
{
    const FeedEnclosureTask* task = _currentTask.enclosureTask();
    if (!task) {
        FEED_LOG(critical, "Engine") << "current enclosure task is null!!";
        disconnectProgress();
        return;
    }
    const qlonglong remaining = _progress.timeRemaining(bytesReceived, bytesTotal);
    FeedEnclosure enclosure = task->enclosure();
    enclosure.setLength(static_cast<unsigned int>(bytesTotal));
    FEED_LOG(debug, "TaskManager") << "Progress for : " << enclosure.remoteUrl();
    emit enclosureDownloadProgress(enclosure, bytesTotal, bytesReceived, remaining);
}

// The file is final before anyone hears of the download, and a file that could not be made final
// is no success.
void FeedTaskRunner::enclosureDownloaded(const QVariantMap& enclosureDetails)
{
    {
        const QScopedValueRollback<bool> turn(_looping, true);
        disconnectProgress();
        const QString mimeType = enclosureDetails.value(QStringLiteral("mimeType")).toString();
        const QString length = enclosureDetails.value(QStringLiteral("length")).toString();
        FEED_LOG(debug, "TaskManager") << "Enclosure type: " << mimeType << "Enclosure length: " << length;
        const FeedEnclosureTask* task = _currentTask.enclosureTask();
        if (!task) {
            FEED_LOG(critical, "TaskManager") << "Enclosure result without a running enclosure task, ignored";
            return;
        }
        FeedEnclosure enclosure = task->enclosure();
        enclosure.setMimeType(mimeType);
        enclosure.setLength(length.toUInt());
        if (_currentTask.isCancelled()) {
            endEnclosureTask(CancelledCode);
        } else if (FeedEnclosureTask::renameTempFile(enclosure)) {
            finishEnclosureTask(enclosure);
        } else {
            FEED_LOG(critical, "TaskManager") << "Downloaded enclosure not made final: " << enclosure.localUrl();
            FeedEnclosureTask::deleteTempFile(enclosure);
            finishEnclosureTask(enclosure, NotFinalisedCode);
        }
        _pluginManager->resetActivePlugin();
    }
    startNextDownload();
}

void FeedTaskRunner::enclosureDownloadFailed(int errorCode)
{
    {
        const QScopedValueRollback<bool> turn(_looping, true);
        FEED_LOG(debug, "TaskManager") << "Error code: " << errorCode;
        disconnectProgress();
        if (!_currentTask.enclosureTask()) {
            FEED_LOG(critical, "TaskManager") << "Enclosure failure without a running enclosure task, ignored";
            return;
        }
        endEnclosureTask(errorCode);
        _pluginManager->resetActivePlugin();
    }
    startNextDownload();
}

// Decided by why the scheduler stopped the download, not by the flags of the moment the plug-in
// answers: a pause of the scheduler runs it again first; a user's pause (or the plug-in's own)
// ends it and keeps its ".part" for a later request; a cancel ends it and keeps nothing.
void FeedTaskRunner::endEnclosureTask(int errorCode)
{
    const FeedEnclosure enclosure = _currentTask.enclosureTask()->enclosure();
    const FeedCurrentTask::StopReason reason =
        _currentTask.isDropped() ? FeedCurrentTask::Cancel : _currentTask.stopReason();
    if (reason == FeedCurrentTask::SchedulerPause) {
        FEED_LOG(debug, "TaskManager") << "Paused, prepending task";
        if (!handBackCurrentTask(EnqueuePrepend))
            finishEnclosureTask(enclosure, PausedCode);
        return;
    }
    FEED_LOG(debug, "TaskManager") << "Failure, removing task";
    const bool paused =
        reason == FeedCurrentTask::UserPause || (reason == FeedCurrentTask::NotStopped && errorCode == PausedCode);
    if (!paused)
        FeedEnclosureTask::deleteTempFile(enclosure);
    finishEnclosureTask(enclosure, reason == FeedCurrentTask::Cancel ? CancelledCode : paused ? PausedCode : errorCode);
}

// Ends the running enclosure task, then tells how it ended: errorCode 0 is a success.
void FeedTaskRunner::finishEnclosureTask(const FeedEnclosure& enclosure, int errorCode)
{
    const FeedEnclosureTask* task = _currentTask.enclosureTask();
    const QString channelUri = task->channel();
    const FeedTask::Priority priority = task->priority();
    const quint64 refresh = task->refresh();
    _currentTask.finish();
    if (errorCode == 0)
        _completion->succeeded(channelUri, enclosure, priority, refresh);
    else
        _completion->failed(channelUri, enclosure, priority, errorCode, refresh);
}

