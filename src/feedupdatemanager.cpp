#include "feedupdatemanager.h"

#include "feedlog.h"
#include "feedsettingsmanager.h"
#include "feedtaskmanager.h"

#include <QMutex>
#include <qmheartbeat.h>

FeedUpdateManager* FeedUpdateManager::_single = nullptr;
QMutex FeedUpdateManager::_mutex;

namespace {

const char Category[] = "Engine";

} // namespace

FeedUpdateManager::FeedUpdateManager()
    : _settingsManager(nullptr)
    , _heartbeat(new Vantor::QmHeartbeat(nullptr))
    , _waitPending(false)
{
    if (_heartbeat->open(Vantor::QmHeartbeat::WakeUpSignal))
        FEED_LOG(debug, Category) << "Heartbeat Open() SUCCEEDED";
    else
        FEED_LOG(critical, Category) << "Heartbeat Open() FAILED";
    connect(_heartbeat, SIGNAL(wakeUp(QTime)), this, SLOT(wakeUp(QTime)));
    _settingsManager = FeedSettingsManager::instance();
    startAutoRefreshTimer();
}

FeedUpdateManager::~FeedUpdateManager()
{
    _heartbeat->close();
    delete _heartbeat;
}

FeedUpdateManager* FeedUpdateManager::instance()
{
    if (_single)
        return _single;
    _mutex.lock();
    FEED_LOG(debug, Category) << "mutex locked";
    if (!_single) {
        FEED_LOG(debug, Category) << "object init";
        _single = new FeedUpdateManager;
    }
    _mutex.unlock();
    FEED_LOG(debug, Category) << "mutex unlocked";
    return _single;
}

void FeedUpdateManager::releaseInstance()
{
    if (!_single)
        return;
    _mutex.lock();
    FEED_LOG(debug, Category) << "mutex locked";
    if (_single) {
        FEED_LOG(debug, Category) << "object de-init";
        delete _single;
    }
    _single = nullptr;
    _mutex.unlock();
    FEED_LOG(debug, Category) << "mutex unlocked";
}

void FeedUpdateManager::restartTimer()
{
    if (_waitPending)
        return;
    _heartbeat->IWokeUp();
    startAutoRefreshTimer();
}

void FeedUpdateManager::forceRestartTimer()
{
    _waitPending = false;
    restartTimer();
}

void FeedUpdateManager::startAutoRefreshTimer()
{
    if (!_settingsManager->refreshAutomatic()) {
        FEED_LOG(debug, Category) << "Auto refresh disabled";
        return;
    }
    FEED_LOG(debug, Category) << "Auto refresh timer started!!!";
    const FeedHeartbeatWindow window = FeedHeartbeatWindow::forInterval(_settingsManager->refreshInterval());
    FEED_LOG(debug, Category) << "minWait : " << window.minimum() << "maxWait : " << window.maximum();
    waitFor(window);
}

void FeedUpdateManager::waitFor(const FeedHeartbeatWindow& window)
{
    _window = window;
    _heartbeat->wait(window.waitMinimum(), window.waitMaximum(), Vantor::QmHeartbeat::ReturnAtOnce);
    _waitPending = true;
}

void FeedUpdateManager::wakeUp(QTime time)
{
    Q_UNUSED(time)
    // A leg of a window too long for one wait: the refresh is not due yet.
    if (_waitPending && !_window.fitsOneWait()) {
        FEED_LOG(debug, Category) << "HEARTBEAT : Woke up inside a long wait, seconds left:" << _window.rest().minimum();
        _heartbeat->IWokeUp();
        waitFor(_window.rest());
        return;
    }
    FEED_LOG(debug, Category) << "HEARTBEAT : Woke up, consumed";
    _waitPending = false;
    FeedTaskManager::instance()->startAutoRefresh();
}
