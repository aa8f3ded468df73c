#include "feedsettingsmanager.h"

#include "feedlog.h"
#include "feedupdatemanager.h"

#include <QMutex>
#include <QSettings>
#include <QVariant>

const QString FeedSettingsManager::RefreshAutomaticKey = QStringLiteral("Refresh/automatic");
const QString FeedSettingsManager::RefreshIntervalKey = QStringLiteral("Refresh/interval");
const QString FeedSettingsManager::RefreshOnlyWifiKey = QStringLiteral("Refresh/onlywifi");
const QString FeedSettingsManager::EnclosureAutomaticKey = QStringLiteral("Enclosure/automatic");
const QString FeedSettingsManager::EnclosureOnlyWifiKey = QStringLiteral("Enclosure/onlywifi");

FeedSettingsManager* FeedSettingsManager::_single = nullptr;
QMutex FeedSettingsManager::_mutex;

namespace {

// True when the value turns the flag over.
bool changeFlag(bool& flag, const QVariant& value)
{
    if (value.toBool() == flag)
        return false;
    flag = value.toBool();
    return true;
}

} // namespace

FeedSettingsManager::FeedSettingsManager()
    : _refreshAutomatic(false)
    , _refreshOnlyWifi(false)
    , _refreshInterval(0)
    , _enclosureAutomatic(false)
    , _enclosureOnlyWifi(false)
{
}

FeedSettingsManager* FeedSettingsManager::instance()
{
    if (_single)
        return _single;
    _mutex.lock();
    FEED_LOG(debug, "Engine") << "mutex locked";
    if (!_single) {
        FEED_LOG(debug, "Engine") << "object init";
        _single = new FeedSettingsManager;
    }
    _mutex.unlock();
    FEED_LOG(debug, "Engine") << "mutex unlocked";
    return _single;
}

void FeedSettingsManager::releaseInstance()
{
    if (!_single)
        return;
    _mutex.lock();
    FEED_LOG(debug, "Engine") << "mutex locked";
    if (_single) {
        FEED_LOG(debug, "Engine") << "object de-init";
        delete _single;
        _single = nullptr;
    }
    _mutex.unlock();
    FEED_LOG(debug, "Engine") << "mutex unlocked";
}

void FeedSettingsManager::loadSettings(QSettings* settings)
{
    _refreshAutomatic = settings->value(RefreshAutomaticKey, false).toBool();
    _refreshOnlyWifi = settings->value(RefreshOnlyWifiKey, false).toBool();
    _refreshInterval = boundedInterval(settings->value(RefreshIntervalKey, DefaultRefreshInterval).toInt());
    _enclosureAutomatic = settings->value(EnclosureAutomaticKey, false).toBool();
    _enclosureOnlyWifi = settings->value(EnclosureOnlyWifiKey, false).toBool();
    if (_refreshAutomatic || _refreshOnlyWifi)
        createHeartbeat();
}

bool FeedSettingsManager::changeRefreshSetting(const QString& key, const QVariant& value)
{
    if (key == RefreshAutomaticKey && changeFlag(_refreshAutomatic, value)) {
        rearmHeartbeat();
        return true;
    }
    if (key == RefreshIntervalKey && changeRefreshInterval(value))
        return true;
    if (key == RefreshOnlyWifiKey && changeFlag(_refreshOnlyWifi, value))
        return true;
    FEED_LOG(warning, "Engine") << "Cannot change to required setting";
    return false;
}

bool FeedSettingsManager::changeEnclosureSetting(const QString& key, const QVariant& value)
{
    if (key == EnclosureAutomaticKey && changeFlag(_enclosureAutomatic, value))
        return true;
    if (key == EnclosureOnlyWifiKey && changeFlag(_enclosureOnlyWifi, value))
        return true;
    FEED_LOG(warning, "Engine") << "No Change in settings!!!";
    return false;
}

int FeedSettingsManager::boundedInterval(int minutes)
{
    return qBound(MinimumRefreshInterval, minutes, MaximumRefreshInterval);
}

// A changed interval is held to the range of a loaded one: a zero-length wake-up window
// would refresh back to back. Text that is no number is refused, not read as 0.
bool FeedSettingsManager::changeRefreshInterval(const QVariant& value)
{
    bool isNumber = false;
    const int minutes = boundedInterval(value.toInt(&isNumber));
    if (!isNumber || minutes == _refreshInterval)
        return false;
    _refreshInterval = minutes;
    rearmHeartbeat();
    return true;
}

// Creating the heartbeat manager arms its first wait from the values just loaded.
void FeedSettingsManager::createHeartbeat()
{
    FeedUpdateManager::instance();
}

void FeedSettingsManager::rearmHeartbeat()
{
    FeedUpdateManager::instance()->forceRestartTimer();
}
