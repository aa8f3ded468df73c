#include "virelon.h"

#include "feedlog.h"
#include "feedsettingsmanager.h"
#include "virelonadaptor.h"
#include "virelonpaths.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace {

const QString Organisation = QStringLiteral("virelon");
const QString ServiceName = QStringLiteral("com.vorlane.Virelon");
const QString ObjectPath = QStringLiteral("/");

// Qt reads the system scope of a settings object from "<folder>/<organisation>/<application>.conf";
// the configuration folder is that organisation folder, so its parent is the folder to give Qt.
void useConfigDirAsSystemScope()
{
    const QFileInfo configDir(QDir::cleanPath(VirelonPaths::configDir()));
    if (configDir.fileName() != Organisation)
        FEED_LOG(warning, "Engine") << "System-wide settings are read from"
                                    << configDir.absolutePath() + QLatin1Char('/') + Organisation;
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, configDir.absolutePath());
}

// Nested D-Bus containers arrive as marshalled arguments that a settings file cannot hold,
// and the file gives an empty list back as no value at all.
bool isPlainValue(const QVariant& value)
{
    if (value.userType() == QMetaType::QStringList)
        return !value.toStringList().isEmpty();
    return value.canConvert<QString>() || value.canConvert<QStringList>();
}

// A settings file may hold what D-Bus cannot carry (no value, a bit array); one such value in
// a reply would abort the daemon.
bool isSendable(const QVariant& value)
{
    if (value.userType() == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        return std::all_of(list.cbegin(), list.cend(), isSendable);
    }
    if (value.userType() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        return std::all_of(map.cbegin(), map.cend(), isSendable);
    }
    return value.isValid() && QDBusMetaType::typeToSignature(value.userType());
}

} // namespace

Virelon::Virelon()
    : _settings(nullptr)
    , _errors(nullptr)
    , _enclosureErrors(nullptr)
{
}

Virelon::~Virelon()
{
    delete _settings;
    delete _errors;
    delete _enclosureErrors;
}

Virelon* Virelon::instance()
{
    static Virelon* single = nullptr;
    if (!single) {
        FEED_LOG(debug, "Engine") << "object init";
        single = new Virelon;
    }
    return single;
}

bool Virelon::start()
{
    FEED_LOG(debug, "Engine") << "Starting virelon.. ";
    initSettings();
    initErrorStores();
    FEED_LOG(debug, "Engine") << "Registering with dbus.. ";
    new VirelonAdaptor(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerService(ServiceName) || !bus.registerObject(ObjectPath, this, QDBusConnection::ExportAdaptors)) {
        FEED_LOG(critical, "Engine") << "dbus registration failed !";
        return false;
    }
    FEED_LOG(debug, "Engine") << "Virelon started successfully.. ";
    return true;
}

void Virelon::initSettings()
{
    useConfigDirAsSystemScope();
    _settings = new QSettings(Organisation, QStringLiteral("settings"));
    FEED_LOG(debug, "Engine") << "Copy settings: " << copySystemSettings();
    FeedSettingsManager::instance()->loadSettings(_settings);
}

// The copy is written at once: a daemon stopped before its first event would copy again.
bool Virelon::copySystemSettings()
{
    if (QFile::exists(_settings->fileName())) {
        FEED_LOG(debug, "Engine") << "Returning: Settings file exists in user space";
        return false;
    }
    const QStringList keys = _settings->allKeys();
    for (const QString& key : keys)
        _settings->setValue(key, _settings->value(key));
    if (!keys.isEmpty())
        _settings->sync();
    return true;
}

void Virelon::initErrorStores()
{
    _errors = new QSettings(Organisation, QStringLiteral("errors"));
    _enclosureErrors = new QSettings(Organisation, QStringLiteral("enclosureErrors"));
    _enclosureErrors->clear();
}

QString Virelon::escapeSettingsKey(const QString& uri) const
{
    return QString(uri).replace(QLatin1Char('/'), QLatin1Char('!'));
}

QString Virelon::unescapeSettingsKey(const QString& key) const
{
    return QString(key).replace(QLatin1Char('!'), QLatin1Char('/'));
}

// A stored change is written at once, so that a daemon stopped right after the reply keeps it.
void Virelon::setConf(const QVariantMap& settings)
{
    FEED_LOG(debug, "Engine") << settings;
    const QStringList knownKeys = _settings->allKeys();
    bool stored = false;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        if (!knownKeys.contains(it.key())) {
            FEED_LOG(warning, "Engine") << "Not found key:" << it.key();
            continue;
        }
        if (!isPlainValue(it.value())) {
            FEED_LOG(warning, "Engine") << "Not a plain value for key:" << it.key();
            continue;
        }
        if (changeSetting(it.key(), it.value())) {
            // What is in use is stored: a clamped interval, a flag read from its text.
            const QVariant held = FeedSettingsManager::instance()->value(it.key());
            _settings->setValue(it.key(), held.isValid() ? held : it.value());
            stored = true;
        }
    }
    if (stored)
        _settings->sync();
}

QVariantMap Virelon::conf()
{
    const QStringList keys = _settings->allKeys();
    FEED_LOG(debug, "Engine") << "All keys:" << keys;
    QVariantMap settings;
    for (const QString& key : keys) {
        const QVariant value = _settings->value(key);
        if (isSendable(value))
            settings.insert(key, value);
        else
            FEED_LOG(warning, "Engine") << "Not a plain value for key:" << key;
    }
    FEED_LOG(debug, "Engine") << "Returning settings:" << settings;
    return settings;
}

// Seam: "Cache" keys go to FeedCacheManager::instance()->changeCacheSetting() once it exists.
bool Virelon::changeSetting(const QString& key, const QVariant& value)
{
    FEED_LOG(debug, "Engine") << key << value;
    if (key.contains(QLatin1String("Refresh")))
        return FeedSettingsManager::instance()->changeRefreshSetting(key, value);
    if (key.contains(QLatin1String("Cache"))) {
        FEED_LOG(debug, "Engine") << "Cache manager not available yet, not changed:" << key;
        FEED_LOG(warning, "Engine") << "Cache settings are not changed";
        return false;
    }
    if (key.contains(QLatin1String("Enclosure")))
        return FeedSettingsManager::instance()->changeEnclosureSetting(key, value);
    return false;
}

void Virelon::registerEnclosure(const QString& enclosureUri)
{
    Q_UNUSED(enclosureUri)
}

void Virelon::cancelRegisterEnclosure(const QString& enclosureUri)
{
    Q_UNUSED(enclosureUri)
}

// Until the store and the scheduler exist, the requests below are only logged: none of them
// may look as if it had been done.

void Virelon::refresh(const QStringList& uriList)
{
    FEED_LOG(debug, "Engine") << "Channel requests not available yet, nothing done for" << uriList;
}

void Virelon::cancelRefresh(const QStringList& uriList)
{
    FEED_LOG(debug, "Engine") << "Channel requests not available yet, nothing done for" << uriList;
}

void Virelon::subscribe(const QStringList& links, const QString& pluginType)
{
    FEED_LOG(debug, "Engine") << "Channel requests not available yet, nothing done for" << links << pluginType;
}

void Virelon::unsubscribe(const QString& uri)
{
    FEED_LOG(debug, "Engine") << "Channel requests not available yet, nothing done for" << uri;
}

void Virelon::editChannel(const QString& channelUri, const QVariantMap& properties)
{
    FEED_LOG(debug, "Engine") << "Channel requests not available yet, nothing done for" << channelUri << properties;
}

void Virelon::downloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    FEED_LOG(debug, "Engine") << "Enclosure requests not available yet, nothing done for" << channelUri
                              << enclosureUriList;
}

void Virelon::cancelDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    FEED_LOG(debug, "Engine") << "Enclosure requests not available yet, nothing done for" << channelUri
                              << enclosureUriList;
}

void Virelon::pauseDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    FEED_LOG(debug, "Engine") << "Enclosure requests not available yet, nothing done for" << channelUri
                              << enclosureUriList;
}

void Virelon::resumeDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    FEED_LOG(debug, "Engine") << "Enclosure requests not available yet, nothing done for" << channelUri
                              << enclosureUriList;
}

QVariantMap Virelon::channelStatus(const QStringList& channelUriList)
{
    FEED_LOG(debug, "Engine") << "Status queries not available yet, empty answer for" << channelUriList;
    return QVariantMap();
}

QVariantMap Virelon::enclosureStatus(const QStringList& enclosureUriList)
{
    FEED_LOG(debug, "Engine") << "Status queries not available yet, empty answer for" << enclosureUriList;
    return QVariantMap();
}

int Virelon::state()
{
    FEED_LOG(debug, "Engine") << "Device state not available yet, answering 0";
    return 0;
}

QVariantMap Virelon::transferDetails(const QString& transferId, const QStringList& fields)
{
    FEED_LOG(debug, "Engine") << "Transfer details not available yet, empty answer for" << transferId << fields;
    return QVariantMap();
}

void Virelon::feedsDownloaded(const FeedChannel& channel)
{
    FEED_LOG(debug, "Engine") << "Fetched-channel handling not available yet, ignored:" << channel.uri();
}

void Virelon::feedsDownloadFailed(const QString& channelUri, int errorCode)
{
    FEED_LOG(debug, "Engine") << "Fetched-channel handling not available yet, ignored:" << channelUri << errorCode;
}

void Virelon::enclosureDownloadStarted(const FeedChannel& channel, const FeedEnclosure& enclosure)
{
    FEED_LOG(debug, "Engine") << "Enclosure results not available yet, ignored:" << channel.uri() << enclosure.uri();
}

void Virelon::enclosureDownloaded(const QString& channelUri, const FeedEnclosure& enclosure, qlonglong timeElapsed)
{
    FEED_LOG(debug, "Engine") << "Enclosure results not available yet, ignored:" << channelUri << enclosure.uri()
                              << timeElapsed;
}

void Virelon::enclosureDownloadFailed(const QString& channelUri, const FeedEnclosure& enclosure, int errorCode,
                                      qlonglong timeElapsed)
{
    FEED_LOG(debug, "Engine") << "Enclosure results not available yet, ignored:" << channelUri << enclosure.uri()
                              << errorCode << timeElapsed;
}

void Virelon::enclosureDownloadProgress(const FeedEnclosure& enclosure, qlonglong bytesTotal,
                                        qlonglong bytesReceived, qlonglong timeRemaining)
{
    FEED_LOG(debug, "Engine") << "Enclosure results not available yet, ignored:" << enclosure.uri() << bytesTotal
                              << bytesReceived << timeRemaining;
}

// Seam: FeedUpdateManager::instance()->restartTimer() goes here once the heartbeat manager exists.
void Virelon::hibernate()
{
    FEED_LOG(debug, "Engine") << "Heartbeat manager not available yet: refresh wait not re-armed";
}
