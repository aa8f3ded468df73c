#ifndef FEEDTASKRUNNER_H
#define FEEDTASKRUNNER_H

#include "feedchannel.h"
#include "feedcurrenttask.h"
#include "feeddownloadprogress.h"
#include "feedenclosure.h"
#include "feedroundchannels.h"
#include "feedtask.h"

#include <QObject>
#include <QVariantMap>

class FeedChannelTask;
class FeedEnclosureCompletion;
class FeedEnclosureTask;
class FeedPluginManager;
class FeedQueueManager;
class FeedTrackerSparql;
class QTimer;

// What holds the scheduler's work back.
struct FeedPauses
{
    bool paused = false;                  // the network is lost: no task starts
    bool enclosurePausedByUser = false;   // new lists of enclosures are refused
    bool enclosurePausedByDevice = false; // mass-storage mode: no task starts
};

// The scheduler's loop: takes the waiting tasks one at a time, runs each through the plug-in
// process manager, and turns the plug-in's answers into results. The scheduler owns it, makes
// its requests around it and relays its signals.
//
// The loop never nests: a task that ends without the plug-in makes the running loop go round
// again instead of starting a loop of its own, so a backlog of any length runs in constant stack.
class FeedTaskRunner : public QObject
{
    Q_OBJECT

public:
    FeedTaskRunner(FeedQueueManager* queue, FeedPluginManager* plugins, FeedTrackerSparql* store,
                   FeedEnclosureCompletion* completion, const FeedPauses* pauses, QObject* parent);

    FeedCurrentTask& currentTask() { return _currentTask; }
    FeedRoundChannels& roundChannels() { return _roundChannels; }

signals:
    void awake();
    void sleep();
    void feedsDownloaded(const FeedChannel& channel);
    void feedDownloadStarted(const QString& channelUri);
    void feedsDownloadFailed(const QString& channelUri, int error);
    void enclosureDownloadStarted(const FeedChannel& channel, const FeedEnclosure& enclosure);
    void enclosureDownloadProgress(const FeedEnclosure& enclosure, qlonglong bytesTotal, qlonglong bytesReceived,
                                   qlonglong timeRemaining);

public slots:
    void startNextDownload();

private slots:
    void feedsDownloaded();
    void feedsDownloadFailed(int errorCode);
    void enclosureDownloadFailed(int errorCode);
    void enclosureDownloaded(const QVariantMap& enclosureDetails);
    void enclosureDownloadProgress(qlonglong bytesReceived, qlonglong bytesTotal);
    void pluginExited(const QString& type);

private:
    Q_DISABLE_COPY(FeedTaskRunner)

    void runNextTask();
    bool canStartNextDownload();
    void retryLater();
    void processTask(FeedTask* task);
    void processTask(FeedChannelTask* task);
    void failRefresh(const QString& channelUri, int errorCode);
    void processTask(FeedEnclosureTask* task);
    void endUnreadEnclosureTask(const FeedEnclosure& enclosure);
    void endCurrentTask(quint64 ticket);
    bool handBackCurrentTask(EnqueueType enqueueType);
    void reportFeed(const QString& url, const FeedChannel& channel, quint64 ticket);
    void endFeedTask(int errorCode);
    void download(const FeedChannel& channel, const FeedEnclosure& enclosure, bool reportProgress);
    void disconnectProgress();
    void endEnclosureTask(int errorCode);
    void finishEnclosureTask(const FeedEnclosure& enclosure, int errorCode = 0);

    FeedQueueManager* _queueManager;
    FeedPluginManager* _pluginManager;
    FeedTrackerSparql* _tracker;
    FeedEnclosureCompletion* _completion;
    const FeedPauses* _pauses;
    FeedCurrentTask _currentTask;
    FeedRoundChannels _roundChannels;
    // No work is under way: awake() is due when a task starts.
    bool _sleeping = true;
    // Times the running manual download.
    FeedDownloadProgress _progress;
    // The loop runs, and a task that ended inside it wants it to go round once more.
    bool _looping = false;
    bool _loopAgain = false;
    // One later try while tasks wait behind a busy plug-in or a missing network.
    QTimer* _retry;
};

#endif
