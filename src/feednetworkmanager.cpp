#include "feednetworkmanager.h"

#include "feedlog.h"

#include <QMutex>

namespace {

QMutex instanceMutex;
FeedNetworkManager* single = nullptr;

} // namespace

FeedNetworkManager* FeedNetworkManager::instance()
{
    if (single)
        return single;
    instanceMutex.lock();
    FEED_LOG(debug, "NetworkManager") << "mutex locked";
    if (!single) {
        FEED_LOG(debug, "NetworkManager") << "object init";
        single = new FeedNetworkManager;
    }
    instanceMutex.unlock();
    FEED_LOG(debug, "NetworkManager") << "mutex unlocked";
    return single;
}

void FeedNetworkManager::releaseInstance()
{
    if (!single)
        return;
    instanceMutex.lock();
    FEED_LOG(debug, "NetworkManager") << "mutex locked";
    if (single) {
        FEED_LOG(debug, "NetworkManager") << "object de-init";
        delete single;
        single = nullptr;
    }
    instanceMutex.unlock();
    FEED_LOG(debug, "NetworkManager") << "mutex unlocked";
}

FeedNetworkManager::FeedNetworkManager() = default;

FeedNetworkManager::~FeedNetworkManager() = default;

bool FeedNetworkManager::isConnected() const
{
    FEED_LOG(debug, "NetworkManager") << "isConnected()" << "true";
    return true;
}

bool FeedNetworkManager::isUsingWLAN() const
{
    FEED_LOG(debug, "NetworkManager") << "bearerName:" << "unknown, no connection manager";
    return false;
}
