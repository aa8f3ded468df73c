#include "feedsettingsmanager.h"

#include "feedlog.h"
#include "feednetworkmanager.h"
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

// A flag is a boolean, the number 0 or 1, or one of the texts "true", "false", "1" and "0" in
// any case: QVariant::toBool() would read "no", "off" or any bytes as true.
bool readFlag(const QVariant& value, bool* flag)
{
    switch (value.userType()) {
    case QMetaType::Bool:
        *flag = value.toBool();
        return true;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
        *flag = value.toLongLong() == 1;
        return value.toLongLong() == 0 || value.toLongLong() == 1;
    case QMetaType::QString: {
        const QString text = value.toString().toLower();
        *flag = text == QLatin1String("true") || text == QLatin1String("1");
        return *flag || text == QLatin1String("false") || text == QLatin1String("0");
    }
    default:
        return false;
    }
}

void logRefused(const QString& key)
{
    FEED_LOG(warning, "Engine") << "Refused value for key:" << key;
}

// A hand-edited "no" or "off" must not switch a feature on: text that is no flag reads as off.
bool storedFlag(QSettings* settings, const QString& key)
{
    bool flag = false;
    return readFlag(settings->value(key, false), &flag) && flag;
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
    _refreshAutomatic = storedFlag(settings, RefreshAutomaticKey);
    _refreshOnlyWifi = storedFlag(settings, RefreshOnlyWifiKey);
    _refreshInterval = boundedInterval(settings->value(RefreshIntervalKey, DefaultRefreshInterval).toInt());
    _enclosureAutomatic = storedFlag(settings, EnclosureAutomaticKey);
    _enclosureOnlyWifi = storedFlag(settings, EnclosureOnlyWifiKey);
    if (_refreshAutomatic || _refreshOnlyWifi)
        createHeartbeat();
}

bool FeedSettingsManager::changeRefreshSetting(const QString& key, const QVariant& value)
{
    bool* const flag = key == RefreshAutomaticKey ? &_refreshAutomatic
                       : key == RefreshOnlyWifiKey ? &_refreshOnlyWifi
                                                   : nullptr;
    const Change change = flag ? changeFlag(key, *flag, value)
                          : key == RefreshIntervalKey ? changeRefreshInterval(value)
                                                      : Unchanged;
    if (change == Changed && key != RefreshOnlyWifiKey)
        rearmHeartbeat();
    if (change == Unchanged)
        FEED_LOG(warning, "Engine") << "Cannot change to required setting";
    return change == Changed;
}

bool FeedSettingsManager::isUsingWLAN() const
{
    return FeedNetworkManager::instance()->isUsingWLAN();
}

bool FeedSettingsManager::changeEnclosureSetting(const QString& key, const QVariant& value)
{
    bool* const flag = key == EnclosureAutomaticKey ? &_enclosureAutomatic
                       : key == EnclosureOnlyWifiKey ? &_enclosureOnlyWifi
                                                     : nullptr;
    const Change change = flag ? changeFlag(key, *flag, value) : Unchanged;
    if (change == Unchanged)
        FEED_LOG(warning, "Engine") << "No Change in settings!!!";
    return change == Changed;
}

QVariant FeedSettingsManager::value(const QString& key) const
{
    if (key == RefreshAutomaticKey)
        return _refreshAutomatic;
    if (key == RefreshIntervalKey)
        return _refreshInterval;
    if (key == RefreshOnlyWifiKey)
        return _refreshOnlyWifi;
    if (key == EnclosureAutomaticKey)
        return _enclosureAutomatic;
    if (key == EnclosureOnlyWifiKey)
        return _enclosureOnlyWifi;
    return QVariant();
}

FeedSettingsManager::Change FeedSettingsManager::changeFlag(const QString& key, bool& flag, const QVariant& value)
{
    bool taken = false;
    if (!readFlag(value, &taken)) {
        logRefused(key);
        return Refused;
    }
    if (taken == flag)
        return Unchanged;
    flag = taken;
    return Changed;
}

int FeedSettingsManager::boundedInterval(qlonglong minutes)
{
    return int(qBound<qlonglong>(MinimumRefreshInterval, minutes, MaximumRefreshInterval));
}

// A changed interval is held to the range of a loaded one: a zero-length wake-up window
// would refresh back to back. Text that is no number is refused, not read as 0.
FeedSettingsManager::Change FeedSettingsManager::changeRefreshInterval(const QVariant& value)
{
    bool isNumber = false;
    const qlonglong number = value.userType() == QMetaType::QByteArray ? 0 : value.toLongLong(&isNumber);
    if (!isNumber) {
        logRefused(RefreshIntervalKey);
        return Refused;
    }
    const int minutes = boundedInterval(number);
    if (minutes == _refreshInterval)
        return Unchanged;
    _refreshInterval = minutes;
    return Changed;
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
