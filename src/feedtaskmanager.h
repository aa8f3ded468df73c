#ifndef FEEDTASKMANAGER_H
#define FEEDTASKMANAGER_H

#include "feedchannel.h"
#include "feedcurrenttask.h"
#include "feedenclosure.h"
#include "feedenclosurecounter.h"
#include "feedtask.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class FeedChannelTask;
class FeedDeviceStateManager;
class FeedEnclosureTask;
class FeedPluginManager;
class FeedQueueManager;
class FeedTrackerSparql;
class QTimer;
class Virelon;

// The daemon's one download scheduler: requests become tasks in the queue, and one task at a
// time runs through the plug-in process manager; what happens is reported through the signals
// below, which the service object relays.
//
// The loop never nests: a task that ends without the plug-in makes the running loop go round
// again instead of starting a loop of its own, so a backlog of any length runs in constant stack.
class FeedTaskManager : public QObject
{
    Q_OBJECT

public:
    static FeedTaskManager* instance();
    static void releaseInstance();

    ~FeedTaskManager() override;

signals:
    void awake();
    void sleep();
    void feedsDownloaded(const FeedChannel& channel);
    void feedDownloadQueued(const QStringList& channelUris);
    void feedDownloadStarted(const QString& channelUri);
    void feedsDownloadFailed(const QString& channelUri, int error);
    void feedsUnsubscribed(const QStringList& channelUri);
    void manualEnclosureDownloadQueued(const FeedChannel& channel, const FeedEnclosure& enclosure);
    void autoEnclosureDownloadQueued(const FeedChannel& channel, const QList<FeedEnclosure>& enclosureList);
    void enclosureDownloadStarted(const FeedChannel& channel, const FeedEnclosure& enclosure);
    void enclosureDownloaded(const QString& channelUri, const FeedEnclosure& enclosure, qlonglong timeElapsed);
    void enclosureDownloadFailed(const QString& channelUri, const FeedEnclosure& enclosure, int errorCode,
                                 qlonglong timeElapsed);
    void enclosureDownloadProgress(const FeedEnclosure& enclosure, qlonglong bytesTotal, qlonglong bytesReceived,
                                   qlonglong timeRemaining);
    void enclosureDownloadError(const QStringList& enclosureUriList, int errorCode, qlonglong timeElapsed);
    void refreshState(int state);
    void refreshCompleted(const QString& uri);

public slots:
    void subscribe(const QStringList& uris);
    void refresh(const QStringList& uriList);
    void autoRefresh(const QStringList& uriList);
    void cancel(const QString& channelUri);
    void unsubscribe(const QString& channelUri);
    void cancelRefresh(const QStringList& uriList);
    void downloadEnclosure(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                           FeedTask::Priority priority = FeedTask::EssentialEnclosurePriority);
    void cancelAll();
    QStringList queuedOptionalEnclosures();
    QStringList queuedFeeds();
    FeedDeviceStateManager* deviceStateManager();
    void startAutoRefresh();
    QVariantMap transferDetails(const QString& transferId, const QStringList& fields);

private slots:
    void startNextDownload();
    void feedsDownloaded();
    void feedsDownloadFailed(int errorCode);
    void pluginExited(const QString& type);

private:
    FeedTaskManager();
    Q_DISABLE_COPY(FeedTaskManager)

    void makeConnections();
    void createEnclosureDir();
    void removeStaleChannelErrors();

    void runNextTask();
    bool canStartNextDownload();
    void retryLater();
    void processTask(FeedTask* task);
    void processTask(FeedChannelTask* task);
    void processTask(FeedEnclosureTask* task);
    void removeCurrentTask(QList<FeedTask*>& tasks);
    void endCurrentTask(quint64 ticket);
    void reportFeed(const QString& url, const FeedChannel& channel, quint64 ticket);
    void endFeedTask(int errorCode);
    void handBackCurrentTask(EnqueueType enqueueType);
    void rearmHeartbeat();

    static QStringList channelsForUris(const QStringList& uris);

    FeedDeviceStateManager* _deviceStateManager;
    FeedTrackerSparql* _tracker;
    FeedPluginManager* _pluginManager;
    FeedQueueManager* _queueManager;
    bool _paused;
    bool _enclosurePausedByUser;
    bool _enclosurePausedByDevice;
    bool _sleeping;
    FeedCurrentTask _currentTask;
    Virelon* _virelon;
    FeedEnclosureCounter _enclosureCount;

    // The loop runs, and a task that ended inside it wants it to go round once more.
    bool _looping;
    bool _loopAgain;
    // One later try while tasks wait behind a busy plug-in or a missing network.
    QTimer* _retry;
};

#endif
