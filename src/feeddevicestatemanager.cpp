#include "feeddevicestatemanager.h"

#include "feedlog.h"
#include "feednetworkmanager.h"

#include <QMutex>

namespace {

QMutex instanceMutex;
FeedDeviceStateManager* single = nullptr;

} // namespace

FeedDeviceStateManager* FeedDeviceStateManager::instance()
{
    if (single)
        return single;
    instanceMutex.lock();
    FEED_LOG(debug, "Engine") << "mutex locked";
    if (!single) {
        FEED_LOG(debug, "Engine") << "object init";
        single = new FeedDeviceStateManager;
    }
    instanceMutex.unlock();
    FEED_LOG(debug, "Engine") << "mutex unlocked";
    return single;
}

void FeedDeviceStateManager::releaseInstance()
{
    if (!single)
        return;
    instanceMutex.lock();
    FEED_LOG(debug, "Engine") << "mutex locked";
    if (single) {
        FEED_LOG(debug, "Engine") << "object de-init";
        delete single;
        single = nullptr;
    }
    instanceMutex.unlock();
    FEED_LOG(debug, "Engine") << "mutex unlocked";
}

FeedDeviceStateManager::FeedDeviceStateManager() = default;

FeedDeviceStateManager::~FeedDeviceStateManager() = default;

FeedDeviceState::State FeedDeviceStateManager::deviceState() const
{
    return FeedDeviceState::State(0);
}

bool FeedDeviceStateManager::createConnection(bool connectInBackground)
{
    FEED_LOG(debug, "NetworkManager") << "No connection manager: the network counts as connected, background:"
                                      << connectInBackground;
    return FeedNetworkManager::instance()->isConnected();
}

bool FeedDeviceStateManager::isUsingWLAN()
{
    return FeedNetworkManager::instance()->isUsingWLAN();
}
