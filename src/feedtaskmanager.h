#ifndef FEEDTASKMANAGER_H
#define FEEDTASKMANAGER_H

#include "feedchannel.h"
#include "feedcurrenttask.h"
#include "feeddevicestate.h"
#include "feedenclosure.h"
#include "feedtask.h"
#include "feedtaskrunner.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class FeedDeviceStateManager;
class FeedEnclosureCompletion;
class FeedPluginManager;
class FeedQueueManager;
class FeedTrackerSparql;
class Virelon;

// The daemon's one download scheduler: requests become tasks in the queue, and one task at a
// time runs through the plug-in process manager (its FeedTaskRunner); what happens is reported
// through the signals below, which the service object relays.
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
    void downloadEnclosure(const QString& channelUri, const FeedEnclosure& enclosure);
    // The one-enclosure request for each enclosure, in order, the channel read and the connection
    // asked for once for all.
    void downloadEachEnclosure(const QString& channelUri, const QList<FeedEnclosure>& enclosures);
    void downloadEnclosure(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                           FeedTask::Priority priority = FeedTask::EssentialEnclosurePriority);
    // Essential downloads that no refresh waits for.
    void downloadUncountedEnclosures(const QString& channelUri, const QList<FeedEnclosure>& enclosures);
    void cancelDownloadEnclosure(const QString& channelUri, const FeedEnclosure& enc, bool pause = false);
    void cancelDownloadEnclosure(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                                 bool pause = false);
    void cancelAll();
    void pause();
    void resume();
    void pauseEnclosures(bool userInitiated = false);
    void resumeEnclosures(bool userInitiated);
    void pauseEnclosure(const QString& channelUri, const FeedEnclosure& enclosure);
    void resumeEnclosureList(const QString& channelUri, const QList<FeedEnclosure>& enclosureList);
    QStringList queuedOptionalEnclosures();
    QStringList queuedFeeds();
    FeedDeviceStateManager* deviceStateManager();
    void startAutoRefresh();
    QVariantMap transferDetails(const QString& transferId, const QStringList& fields);
    void cancelDownloadEnclosure(const QList<FeedEnclosure>& enclosureList);

private slots:
    void handleDeviceStateChange(FeedDeviceState::State state, FeedDeviceState::Change change);

private:
    FeedTaskManager();
    Q_DISABLE_COPY(FeedTaskManager)

    void makeConnections();
    void relay(QObject* part, std::initializer_list<const char*> signatures);
    void createEnclosureDir();
    void removeStaleChannelErrors();

    void removeCurrentTask(QList<FeedTask*>& tasks);
    void rearmHeartbeat();

    // What the enclosures of one request share: the channel, read once it is needed, and the
    // network connection, asked for once.
    struct ManualRequest {
        std::optional<FeedChannel> channel;
        std::optional<bool> connected;
    };

    void downloadEnclosure(const QString& channelUri, const FeedEnclosure& enclosure, ManualRequest& request);
    void queueEnclosures(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                         FeedTask::Priority priority, bool completeRefresh);
    void queueManualDownload(const FeedChannel& channel, const FeedEnclosure& enclosure, bool connected);
    void queueManualDownloads(const QString& channelUri, const QList<FeedEnclosure>& enclosures);
    bool isRunning(const QString& channelUri, const FeedEnclosure& enclosure) const;
    FeedEnclosureTask* runningEqualTask(const QString& channelUri, const QList<FeedEnclosure>& enclosures,
                                        FeedTask::Priority priority) const;
    QList<FeedEnclosureTask*> uncountedTasks(const QString& channelUri, const QList<FeedEnclosureTask*>& tasks) const;
    void stopEnclosure(FeedCurrentTask::StopReason reason);
    void connectionStateChanged(const FeedDeviceState::State& state);
    void usbStateChanged(const FeedDeviceState::State& state);

    static QStringList channelsForUris(const QStringList& uris);

    FeedDeviceStateManager* _deviceStateManager;
    FeedTrackerSparql* _tracker;
    FeedPluginManager* _pluginManager;
    FeedQueueManager* _queueManager;
    FeedPauses _pauses;
    Virelon* _virelon;
    // The ends of enclosure downloads, and the refreshes that wait for them.
    FeedEnclosureCompletion* _completion;
    FeedTaskRunner* _runner;
    // The runner's running task.
    FeedCurrentTask* _currentTask;
};

#endif
