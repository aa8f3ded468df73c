#include "virelon.h"

#include "contentinfo.h"
#include "feedcachemanager.h"
#include "feeddevicestatemanager.h"
#include "feedfilenamegenerator.h"
#include "feedformatter.h"
#include "feedlog.h"
#include "feedpluginmanager.h"
#include "feedsettingsmanager.h"
#include "feedtaskmanager.h"
#include "feedtrackersparql.h"
#include "feedupdatemanager.h"
#include "virelonadaptor.h"
#include "virelonpaths.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>

#include <algorithm>
#include <limits>

namespace {

const QString Organisation = QStringLiteral("virelon");
const QString ServiceName = QStringLiteral("com.vorlane.Virelon");
const QString ObjectPath = QStringLiteral("/");
// The bus library tells its own connection that it closed, as a signal from this path.
const QString LocalPath = QStringLiteral("/org/freedesktop/DBus/Local");
const QString LocalInterface = QStringLiteral("org.freedesktop.DBus.Local");

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

// A settings file read back holds only text, while a value set since holds its own type: each
// known setting reaches a client in the one type it has, or not at all. A refresh setting is the
// one in use.
QVariant typedSetting(const QString& key, const QVariant& value)
{
    const QVariant used = FeedSettingsManager::instance()->value(key);
    if (used.isValid())
        return used;
    if (key != FeedCacheManager::CachePostsKey)
        return value;
    bool whole = false;
    const int number = value.toString().toInt(&whole);
    return whole ? QVariant(number) : QVariant();
}

// The code of a refresh whose writes the store refused.
constexpr int StoreFailedCode = 202;

// A link is fetched in the form the store keeps it in.
bool isFetchableLink(const QString& link)
{
    const QUrl url = QUrl::fromUserInput(link);
    return url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

bool sameMessage(const FeedMessage& one, const FeedMessage& other)
{
    return one.link() == other.link() && one.title() == other.title() && one.description() == other.description()
        && one.publishedDate() == other.publishedDate();
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
    bus.connect(QString(), LocalPath, LocalInterface, QStringLiteral("Disconnected"), this, SLOT(busDisconnected()));
    FEED_LOG(debug, "Engine") << "Virelon started successfully.. ";
    return true;
}

// No client can reach a daemon whose bus has gone, and the next session starts one of its own.
void Virelon::busDisconnected()
{
    FEED_LOG(warning, "Engine") << "Session bus connection closed, exiting";
    QCoreApplication::exit(0);
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
        const QVariant value = typedSetting(key, _settings->value(key));
        if (isSendable(value))
            settings.insert(key, value);
        else
            FEED_LOG(warning, "Engine") << "Not a plain value for key:" << key;
    }
    FEED_LOG(debug, "Engine") << "Returning settings:" << settings;
    return settings;
}

bool Virelon::changeSetting(const QString& key, const QVariant& value)
{
    FEED_LOG(debug, "Engine") << key << value;
    if (key.contains(QLatin1String("Refresh")))
        return FeedSettingsManager::instance()->changeRefreshSetting(key, value);
    if (key.contains(QLatin1String("Cache"))) {
        FeedCacheManager* cache = FeedCacheManager::instance();
        return cache && cache->changeCacheSetting(key, value);
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

// Channel requests --------------------------------------------------------------------------

void Virelon::subscribe(const QStringList& links, const QString& pluginType)
{
    if (links.isEmpty()) {
        FEED_LOG(debug, "Engine") << "Returning: Subscribe links is empty";
        return;
    }
    if (pluginType.isEmpty()) {
        FEED_LOG(debug, "Engine") << "Returning: plugin type is empty";
        return;
    }
    FEED_LOG(debug, "Engine") << "Subscribe Called for links :" << links;
    const bool installed = FeedPluginManager::isInstalled(pluginType);
    QStringList added;
    for (const QString& link : links) {
        // A channel no refresh can fetch would fail for good, and its link block a good subscription.
        if (!installed || !isFetchableLink(link)) {
            FEED_LOG(warning, "Engine") << (installed ? "Subscribe refused, not an http or https link:"
                                                      : "Subscribe refused, no such plugin installed:")
                                        << link << pluginType;
            continue;
        }
        FeedChannel channel;
        channel.setLink(link);
        channel.setType(pluginType);
        const QString uri = FeedTrackerSparql::instance()->addChannel(channel);
        if (uri.isEmpty())
            FEED_LOG(warning, "Engine") << "Feed channel insertion in tracker failed: " << link;
        else
            added.append(uri);
    }
    if (added.isEmpty())
        return;
    FEED_LOG(debug, "Engine") << "Successfully added: " << added;
    FeedTaskManager::instance()->subscribe(added);
}

// Queued and running work of the channel goes before its records do. The cache manager hears
// the deleted enclosures and removes their files: a client may unsubscribe before anything else
// has made it.
void Virelon::unsubscribe(const QString& uri)
{
    FEED_LOG(debug, "Engine") << "UnSubscribe Called, uri :" << uri;
    FeedCacheManager::instance();
    FeedTaskManager::instance()->unsubscribe(uri);
    _refreshTimes.forget(uri);
    FeedTrackerSparql::instance()->deleteChannel(uri);
    removeChannelError(uri);
}

void Virelon::editChannel(const QString& channelUri, const QVariantMap& properties)
{
    FEED_LOG(debug, "Engine") << "Editing Channel for " << channelUri;
    if (!isWorkableEdit(properties) || !FeedTrackerSparql::instance()->editChannel(channelUri, properties)) {
        emit editChannelStatus(channelUri, 202);
        return;
    }
    // An edited time is later than a refresh's time that waits.
    if (properties.contains(FeedTrackerSparql::LastModifiedTimeKey))
        _refreshTimes.forget(channelUri);
    emit editChannelStatus(channelUri, 0);
    if (properties.contains(FeedTrackerSparql::LinkKey))
        FeedTaskManager::instance()->refresh(QStringList{channelUri});
}

// An edit that changes nothing is no success, and a link no refresh can fetch would fail for good.
bool Virelon::isWorkableEdit(const QVariantMap& properties)
{
    const QString link = properties.value(FeedTrackerSparql::LinkKey).toString();
    if (properties.contains(FeedTrackerSparql::LinkKey) && !isFetchableLink(link)) {
        FEED_LOG(warning, "Engine") << "Edit refused, not an http or https link:" << link;
        return false;
    }
    for (const QString& key :
         {FeedTrackerSparql::LinkKey, FeedTrackerSparql::TitleKey, FeedTrackerSparql::LastModifiedTimeKey}) {
        if (properties.contains(key))
            return true;
    }
    FEED_LOG(warning, "Engine") << "Edit refused, no key to change:" << properties.keys();
    return false;
}

void Virelon::refresh(const QStringList& uriList)
{
    if (uriList.isEmpty()) {
        FEED_LOG(critical, "Engine") << "Refresh called without uris. Go away !";
        return;
    }
    FEED_LOG(debug, "Engine") << "uris : " << uriList;
    FeedTaskManager::instance()->refresh(uriList);
}

void Virelon::cancelRefresh(const QStringList& uriList)
{
    if (uriList.isEmpty()) {
        FEED_LOG(debug, "Engine") << "Cancel called without uris. Go away !";
        return;
    }
    FEED_LOG(debug, "Engine") << "Cancel called for uris: " << uriList;
    FeedTaskManager::instance()->cancelRefresh(uriList);
    if (uriList.size() > 1) {
        FEED_LOG(debug, "Engine") << "cancelling manual group refresh request";
        emit refreshState(201);
    }
}

void Virelon::cancelAll()
{
    FEED_LOG(debug, "Engine") << "Canceling all feed refresh...";
    FeedTaskManager::instance()->cancelAll();
    emit refreshState(201);
}

// Enclosure requests ------------------------------------------------------------------------
//
// Each enclosure URI is read from the store and handed on as it is: the scheduler refuses a
// record without a remote URL, or of a channel it does not hold.

void Virelon::downloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    for (const QString& uri : enclosureUriList)
        FEED_LOG(debug, "Engine") << "Channel uri: " << channelUri << "Enclosure uri: " << uri;
    const QList<FeedEnclosure> enclosures = storedEnclosures(enclosureUriList);
    for (const QString& uri : enclosureUriList)
        removeEnclosureError(uri);
    if (!enclosures.isEmpty())
        FeedTaskManager::instance()->downloadEnclosure(channelUri, enclosures, FeedTask::ManualEnclosurePriority);
}

void Virelon::cancelDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    for (const QString& uri : enclosureUriList)
        FEED_LOG(debug, "Engine") << "Channel uri: " << channelUri << "Enclosure uri: " << uri;
    for (const FeedEnclosure& enclosure : storedEnclosures(enclosureUriList))
        FeedTaskManager::instance()->cancelDownloadEnclosure(channelUri, enclosure, false);
}

void Virelon::pauseDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    for (const QString& uri : enclosureUriList)
        FEED_LOG(debug, "Engine") << "Channel uri: " << channelUri << "Enclosure uri: " << uri;
    for (const FeedEnclosure& enclosure : storedEnclosures(enclosureUriList))
        FeedTaskManager::instance()->cancelDownloadEnclosure(channelUri, enclosure, true);
}

void Virelon::resumeDownloadEnclosure(const QString& channelUri, const QStringList& enclosureUriList)
{
    for (const QString& uri : enclosureUriList)
        FEED_LOG(debug, "Engine") << "Channel uri: " << channelUri << "Enclosure uri: " << uri;
    const QList<FeedEnclosure> enclosures = storedEnclosures(enclosureUriList);
    if (!enclosures.isEmpty())
        FeedTaskManager::instance()->downloadEachEnclosure(channelUri, enclosures);
}

// A slice of the list a query: a query per URI would hold every other request for long. A
// request without URIs reads nothing.
QList<FeedEnclosure> Virelon::storedEnclosures(const QStringList& enclosureUris) const
{
    if (enclosureUris.isEmpty())
        return QList<FeedEnclosure>();
    return FeedTrackerSparql::instance()->enclosuresForUris(enclosureUris);
}

// No entry is ever kept under an empty key: it would stand for no enclosure at all.
void Virelon::removeEnclosureError(const QString& enclosureUri)
{
    if (!enclosureUri.isEmpty())
        _enclosureErrors->remove(escapeSettingsKey(enclosureUri));
}

// Status queries ----------------------------------------------------------------------------

QVariantMap Virelon::channelStatus(const QStringList& channelUriList)
{
    const QStringList pending = FeedTaskManager::instance()->queuedFeeds();
    FEED_LOG(debug, "Engine") << "List of pending feeds : " << pending;
    return statusMap(_errors, channelUriList, pending);
}

QVariantMap Virelon::enclosureStatus(const QStringList& enclosureUriList)
{
    const QStringList pending = FeedTaskManager::instance()->queuedOptionalEnclosures();
    FEED_LOG(debug, "Engine") << "List of pending enclosures : " << pending;
    return statusMap(_enclosureErrors, enclosureUriList, pending);
}

// For the requested URIs a stored code wins over pending; asked for everything, pending wins.
// A stored value that is no code is left out.
QVariantMap Virelon::statusMap(QSettings* errors, const QStringList& uris, const QStringList& pending) const
{
    QVariantMap status;
    // A code is a number however the file gives it back: read again after a restart, it is text.
    const auto addStored = [&](const QString& uri, const QString& key) {
        bool number = false;
        const int code = errors->value(key).toString().toInt(&number);
        if (number)
            status.insert(uri, code);
        else
            FEED_LOG(warning, "Engine") << "Not a plain value for key:" << key;
    };
    if (!uris.isEmpty()) {
        for (const QString& uri : uris) {
            if (errors->contains(escapeSettingsKey(uri)))
                addStored(uri, escapeSettingsKey(uri));
            else if (pending.contains(uri))
                status.insert(uri, 1);
        }
        return status;
    }
    for (const QString& key : errors->allKeys())
        addStored(unescapeSettingsKey(key), key);
    for (const QString& uri : pending)
        status.insert(uri, 1);
    return status;
}

// The first state request makes the cache manager, which clears the store's orphans.
int Virelon::state()
{
    FeedCacheManager::instance();
    const int state = FeedTaskManager::instance()->deviceStateManager()->deviceState();
    FEED_LOG(debug, "Engine") << "Device state:" << state;
    return state;
}

QVariantMap Virelon::transferDetails(const QString& transferId, const QStringList& fields)
{
    FEED_LOG(debug, "Engine") << "fetch transfer details for : " << transferId;
    return FeedTaskManager::instance()->transferDetails(transferId, fields);
}

// A fetched channel -------------------------------------------------------------------------

// A channel deleted while it was fetched is not written back: its refresh ends as cancelled. A
// refresh whose writes the store refused ends with 202, and completes no other way. The store is
// read once, before anything is written: what it held then, and what was written, tell what it
// holds after.
void Virelon::feedsDownloaded(const FeedChannel& channel)
{
    FEED_LOG(debug, "Engine") << "Saving channel and message details to tracker";
    FeedChannel copy = channel;
    localizeChannelIcon(copy);
    bool read = false;
    const FeedTrackerSparql::StoredChannel stored = FeedTrackerSparql::instance()->storedChannel(copy.uri(), &read);
    if (read && !stored.exists) {
        FEED_LOG(critical, "Engine") << "Channel left the store while it was fetched: " << copy.uri();
        _refreshTimes.forget(copy.uri());
        feedsDownloadFailed(copy.uri(), 201);
        return;
    }
    FeedCacheManager* cache = FeedCacheManager::instance();
    // Past its limit the cache reads only links: those messages are formatted only where held.
    const int compared = cache ? cache->maxPosts() : 0;
    QList<FeedMessage> messages = formatMessages(copy.messages(), compared);
    copy.setMessages(messages);
    bool picked = false;
    QStringList heldLinks;
    const QList<FeedMessage> fresh =
        cache && read ? cache->updateFeedMessage(copy, stored, &picked, &heldLinks) : QList<FeedMessage>();
    QSet<int> unwritten;
    const bool channelStored = read && storeRefresh(copy, stored, fresh, &unwritten);
    const bool messagesStored = picked && unwritten.isEmpty();
    if (picked && fresh.isEmpty())
        FEED_LOG(critical, "Engine") << "Nothing to update to tracker!!!";
    else if (!messagesStored)
        FEED_LOG(critical, "Engine") << "Messages not stored: " << copy.uri();
    FeedChannel held = copy;
    QList<FeedMessage> heldMessages = messagesHeldByStore(copy, compared, fresh, unwritten, heldLinks);
    held.setMessages(heldMessages);
    // The icon's record is written with the channel.
    if (!channelStored)
        held.setIcon(FeedEnclosure());
    const bool written = channelStored && messagesStored;
    queueEnclosures(held, written);
    if (!written) {
        feedsDownloadFailed(copy.uri(), StoreFailedCode);
        return;
    }
    FEED_LOG(debug, "Engine") << copy.uri() << escapeSettingsKey(copy.uri());
    storeChannelError(copy.uri(), 0);
}

// Whether the channel's values held; the new messages the store refused go to *unwritten. The
// refresh's own time is later than one that waits.
bool Virelon::storeRefresh(const FeedChannel& channel, const FeedTrackerSparql::StoredChannel& stored,
                           const QList<FeedMessage>& fresh, QSet<int>* unwritten)
{
    _refreshTimes.forget(channel.uri());
    bool channelWritten = false;
    FeedTrackerSparql::instance()->refreshChannel(channel, stored, fresh, &channelWritten, unwritten);
    return channelWritten;
}

// Only a refresh whose writes held is completed by its essential downloads.
void Virelon::queueEnclosures(const FeedChannel& channel, bool completeRefresh)
{
    FeedTaskManager* scheduler = FeedTaskManager::instance();
    const QList<FeedEnclosure> essential = essentialEnclosuresToDownload(channel);
    if (completeRefresh)
        scheduler->downloadEnclosure(channel.uri(), essential, FeedTask::EssentialEnclosurePriority);
    else
        scheduler->downloadUncountedEnclosures(channel.uri(), essential);
    if (!downloadOptional())
        return;
    const QList<FeedEnclosure> optional = optionalEnclosuresToDownload(channel);
    if (!optional.isEmpty())
        scheduler->downloadEnclosure(channel.uri(), optional, FeedTask::OptionalEnclosurePriority);
}

// Enclosures are fetched only for messages the store holds: the file of any other would have
// no record, and nothing would ever remove it. A linked message is held when the channel holds
// its link: one it held once room was made for the new messages, or a new one stored. A link-less
// one only as one of the new messages stored. Past the formatted messages, where none is new, a
// held one is formatted here, and a link only once: a feed that repeats a stored link must not
// get every repeat formatted.
QList<FeedMessage> Virelon::messagesHeldByStore(const FeedChannel& channel, int formatted,
                                                const QList<FeedMessage>& added, const QSet<int>& unwritten,
                                                const QStringList& heldLinks) const
{
    QSet<QString> stored(heldLinks.cbegin(), heldLinks.cend());
    for (int index = 0; index < added.size(); ++index) {
        if (!unwritten.contains(index))
            stored.insert(added.at(index).link());
    }
    const QList<FeedMessage> messages = channel.messages();
    QList<FeedMessage> held;
    QList<FeedMessage> heldUnformatted;
    QSet<QString> unformattedLinks;
    int next = 0;
    for (int index = 0; index < messages.size(); ++index) {
        const FeedMessage& message = messages.at(index);
        // The new messages are the channel's own, picked in order.
        const bool isAdded = next < added.size() && sameMessage(added.at(next), message);
        const bool addedStored = isAdded && !unwritten.contains(next);
        if (isAdded)
            ++next;
        // A formatted message's link is in the store's form already.
        const QString link = index < formatted ? message.link() : FeedTrackerSparql::storedLink(message.link());
        if (!(link.isEmpty() ? addedStored : stored.contains(link)))
            continue;
        if (index < formatted) {
            held.append(message);
        } else if (!unformattedLinks.contains(link)) {
            unformattedLinks.insert(link);
            heldUnformatted.append(message);
        }
    }
    return held + FeedFormatter().formatMessages(heldUnformatted);
}

void Virelon::feedsDownloadFailed(const QString& channelUri, int errorCode)
{
    FEED_LOG(debug, "Engine") << "Channel = " << channelUri << ", Error = " << errorCode;
    if (errorCode != 201)
        storeChannelError(channelUri, errorCode);
    if (errorCode == 304)
        _refreshTimes.add(channelUri, QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch()));
    emit refreshError(channelUri, errorCode);
}

// Any change writes the whole file again, synced, before the next request reaches the plug-in:
// an entry that already says the same is left alone.
void Virelon::storeChannelError(const QString& channelUri, int errorCode)
{
    const QString key = escapeSettingsKey(channelUri);
    const QVariant stored = _errors->value(key);
    if (stored.isValid() && stored.toString() == QString::number(errorCode))
        return;
    _errors->setValue(key, errorCode);
}

void Virelon::removeChannelError(const QString& channelUri)
{
    _errors->remove(escapeSettingsKey(channelUri));
}

QList<FeedMessage> Virelon::formatMessages(const QList<FeedMessage>& messages, int count)
{
    FEED_LOG(debug, "Engine") << "Messages from plugin: " << messages.size();
    const QList<FeedMessage> first = messages.mid(0, count);
    for (const FeedMessage& message : first)
        FEED_LOG(debug, "Engine") << message;
    const QList<FeedMessage> formatted = FeedFormatter().formatMessages(first);
    if (formatted.size() == messages.size())
        return formatted;
    // A huge feed's list is copied once, not twice, for its first messages to be replaced.
    QList<FeedMessage> all = messages;
    std::copy(formatted.cbegin(), formatted.cend(), all.begin());
    return all;
}

void Virelon::localizeChannelIcon(FeedChannel& channel)
{
    FeedEnclosure icon = channel.icon();
    if (icon.remoteUrl().isEmpty())
        return;
    icon.setLocalUrl(FeedFilenameGenerator().generateFileName(icon.remoteUrl()));
    channel.setIcon(icon);
}

FeedEnclosure Virelon::channelIconToDownload(const FeedChannel& channel)
{
    const FeedEnclosure icon = channel.icon();
    if (!icon.remoteUrl().isEmpty() && !icon.localUrl().isEmpty() && !QFile::exists(icon.localUrl()))
        return icon;
    return FeedEnclosure();
}

QList<FeedEnclosure> Virelon::essentialEnclosuresToDownload(const FeedChannel& channel)
{
    FEED_LOG(debug, "Engine") << channel.link();
    QList<FeedEnclosure> enclosures;
    const FeedEnclosure icon = channelIconToDownload(channel);
    if (!icon.remoteUrl().isEmpty())
        enclosures.append(icon);
    for (const FeedMessage& message : channel.messages()) {
        for (const FeedEnclosure& enclosure : message.enclosures()) {
            if (enclosure.type() == FeedEnclosure::Essential && !QFile::exists(enclosure.localUrl()))
                enclosures.append(enclosure);
        }
    }
    return enclosures;
}

// Enclosures of a group are a choice for the user, never fetched on their own.
QList<FeedEnclosure> Virelon::optionalEnclosuresToDownload(const FeedChannel& channel)
{
    FEED_LOG(debug, "Engine") << channel.link();
    QList<FeedEnclosure> enclosures;
    for (const FeedMessage& message : channel.messages()) {
        for (const FeedEnclosure& enclosure : message.enclosures()) {
            if (enclosure.type() == FeedEnclosure::Optional && enclosure.groupId() == 0
                && !QFile::exists(enclosure.localUrl()))
                enclosures.append(enclosure);
        }
    }
    return enclosures;
}

bool Virelon::downloadOptional()
{
    const FeedSettingsManager* settings = FeedSettingsManager::instance();
    if (!settings->enclosureAutomatic()) {
        FEED_LOG(critical, "Engine") << "Auto Update for Enclosure Download is not enabled!";
        return false;
    }
    if (!settings->enclosureOnlyWifi())
        return true;
    if (FeedTaskManager::instance()->deviceStateManager()->isUsingWLAN())
        return true;
    FEED_LOG(critical, "Engine") << "OnWifi Download enabled, but WLAN not found !";
    return false;
}

// Enclosure results -------------------------------------------------------------------------
//
// A client hears how every download it heard start ends. An enclosure without a URI has no
// name on the bus and no entry in the error store.

void Virelon::enclosureDownloadStarted(const FeedChannel& channel, const FeedEnclosure& enclosure)
{
    FEED_LOG(debug, "Engine") << "Download started:" << channel.uri() << enclosure.uri();
    if (!hasUri(enclosure))
        return;
    _announcedEnclosures.insert(enclosure.uri());
    emit enclosureDownloadStarted(enclosure.uri());
}

void Virelon::enclosureDownloaded(const QString& channelUri, const FeedEnclosure& enclosure, qlonglong timeElapsed)
{
    FEED_LOG(debug, "Engine") << "Download completed:" << channelUri << enclosure.uri();
    const bool announced = _announcedEnclosures.remove(enclosure.uri());
    if (!hasUri(enclosure) || (enclosure.type() != FeedEnclosure::Optional && !announced))
        return;
    removeEnclosureError(enclosure.uri());
    emit enclosureDownloadCompleted(enclosure.uri(), timeElapsed);
}

void Virelon::enclosureDownloadFailed(const QString& channelUri, const FeedEnclosure& enclosure, int errorCode,
                                      qlonglong timeElapsed)
{
    FEED_LOG(debug, "Engine") << "Download failed:" << channelUri << enclosure.uri() << errorCode;
    _announcedEnclosures.remove(enclosure.uri());
    if (!hasUri(enclosure))
        return;
    if (errorCode == 201)
        removeEnclosureError(enclosure.uri());
    else
        _enclosureErrors->setValue(escapeSettingsKey(enclosure.uri()), errorCode);
    emit enclosureDownloadError(QStringList{enclosure.uri()}, errorCode, timeElapsed);
}

// The store learns a download's size once, from the first report that knows it: an unknown total
// (-1), or one no stored size can hold, leaves the stored size as it is.
void Virelon::enclosureDownloadProgress(const FeedEnclosure& enclosure, qlonglong bytesTotal,
                                        qlonglong bytesReceived, qlonglong timeRemaining)
{
    const bool storable = bytesTotal > 0 && bytesTotal <= std::numeric_limits<unsigned int>::max();
    if (storable && enclosure.remoteUrl() != _sizedEnclosure.remoteUrl()) {
        FEED_LOG(debug, "Engine") << "Updating actual size for enclosure " << enclosure;
        _sizedEnclosure = enclosure;
        const ContentInfo content = ContentInfo::forFile(QUrl::fromLocalFile(enclosure.localUrl()));
        if (content.isValid()) {
            _sizedEnclosure.setMimeType(content.mimeType());
            _sizedEnclosure.setTypeIcon(content.typeIcon());
        }
        FeedTrackerSparql::instance()->updateEnclosure(_sizedEnclosure);
    }
    if (hasUri(enclosure))
        emit enclosureDownloadProgress(enclosure.uri(), bytesTotal, bytesReceived, timeRemaining);
}

bool Virelon::hasUri(const FeedEnclosure& enclosure)
{
    if (!enclosure.uri().isEmpty())
        return true;
    FEED_LOG(warning, "Engine") << "Enclosure without a URI, not reported:" << enclosure.remoteUrl();
    return false;
}

// The queue ran empty: the refreshes' times go into the store, and the next automatic refresh is
// waited for, unless a wait is pending.
void Virelon::hibernate()
{
    _refreshTimes.write();
    FeedUpdateManager::instance()->restartTimer();
}
