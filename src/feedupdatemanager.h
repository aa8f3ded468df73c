#ifndef FEEDUPDATEMANAGER_H
#define FEEDUPDATEMANAGER_H

#include "feedheartbeatwindow.h"

#include <QObject>
#include <QTime>

class FeedSettingsManager;
class QMutex;

namespace Vantor {
class QmHeartbeat;
}

// The periodic automatic refresh: one heartbeat wait at a time, armed from "Refresh/interval";
// its wake-up starts the scheduler's automatic refresh.
class FeedUpdateManager : public QObject
{
    Q_OBJECT

public:
    ~FeedUpdateManager() override;

    static FeedUpdateManager* instance();
    static void releaseInstance();

    void forceRestartTimer();
    void startAutoRefreshTimer();

public slots:
    void restartTimer();

private slots:
    void wakeUp(QTime time = QTime());

private:
    Q_DISABLE_COPY(FeedUpdateManager)

    FeedUpdateManager();

    void waitFor(const FeedHeartbeatWindow& window);

    static FeedUpdateManager* _single;
    static QMutex _mutex;

    FeedSettingsManager* _settingsManager;
    Vantor::QmHeartbeat* _heartbeat;
    bool _waitPending;
    FeedHeartbeatWindow _window;
};

#endif
