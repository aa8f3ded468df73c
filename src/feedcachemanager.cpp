#include "feedcachemanager.h"

#include "feedchannel.h"
#include "feedenclosurefiles.h"
#include "feedlog.h"
#include "feedtaskmanager.h"
#include "feedtrackersparql.h"

#include <QDateTime>
#include <QMultiHash>
#include <QMutex>
#include <QSet>
#include <QSettings>
#include <QVariant>

#include <algorithm>
#include <cmath>

const QString FeedCacheManager::CachePostsKey = QStringLiteral("Cache/posts");

FeedCacheManager* FeedCacheManager::_single = nullptr;
QMutex FeedCacheManager::_mutex;

namespace {

// A limit must be a whole number: text that merely converts to 0 would trim every channel.
bool wholeNumber(const QVariant& value, qlonglong* number)
{
    switch (value.userType()) {
    case QMetaType::Bool:
        return false;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double real = value.toDouble();
        if (!std::isfinite(real) || std::trunc(real) != real || std::fabs(real) > 1e15)
            return false;
        *number = qlonglong(real);
        return true;
    }
    default: {
        bool ok = false;
        *number = value.toString().trimmed().toLongLong(&ok);
        return ok;
    }
    }
}

quint16 boundedPosts(qlonglong posts)
{
    return quint16(qBound<qlonglong>(FeedCacheManager::MinimumMaxPosts, posts, FeedCacheManager::MaximumMaxPosts));
}

bool hasLink(const QList<FeedMessage>& messages)
{
    return std::any_of(messages.cbegin(), messages.cend(),
                       [](const FeedMessage& message) { return !message.link().isEmpty(); });
}

} // namespace

FeedCacheManager::FeedCacheManager()
    : QObject(nullptr), _maxPosts(DefaultMaxPosts), _tracker(nullptr)
{
    applyCacheSetting();
    _tracker = FeedTrackerSparql::instance();
    connect(_tracker, SIGNAL(enclosuresToBeDeleted(QList<FeedEnclosure>&)), this,
            SLOT(handleEnclosureDeletion(QList<FeedEnclosure>&)));
    _tracker->deleteOrphans();
}

// The constructor deletes orphans, and what their announcement reaches must not come back
// here: a nested call gets null instead of waiting on its own lock.
FeedCacheManager* FeedCacheManager::instance()
{
    if (_single)
        return _single;
    if (!_mutex.tryLock()) {
        FEED_LOG(critical, "CacheManager") << "Cache manager requested while it is being made";
        return nullptr;
    }
    FEED_LOG(debug, "CacheManager") << "mutex locked";
    if (!_single) {
        FEED_LOG(debug, "CacheManager") << "object init";
        _single = new FeedCacheManager;
    }
    _mutex.unlock();
    FEED_LOG(debug, "CacheManager") << "mutex unlocked";
    return _single;
}

void FeedCacheManager::releaseInstance()
{
    if (!_single)
        return;
    _mutex.lock();
    FEED_LOG(debug, "CacheManager") << "mutex locked";
    if (_single) {
        FEED_LOG(debug, "CacheManager") << "object de-init";
        delete _single;
        _single = nullptr;
    }
    _mutex.unlock();
    FEED_LOG(debug, "CacheManager") << "mutex unlocked";
}

void FeedCacheManager::applyCacheSetting()
{
    const QVariant stored = QSettings(QStringLiteral("virelon"), QStringLiteral("settings"))
                                .value(CachePostsKey, DefaultMaxPosts);
    qlonglong posts = DefaultMaxPosts;
    if (!wholeNumber(stored, &posts)) {
        FEED_LOG(warning, "CacheManager") << "Not a number, the default limit is used:" << stored;
        posts = DefaultMaxPosts;
    }
    _maxPosts = boundedPosts(posts);
    FEED_LOG(debug, "CacheManager") << "Max Posts Limit per feed: " << _maxPosts;
}

QList<FeedMessage> FeedCacheManager::updateFeedMessage(const FeedChannel& channel, bool* ok)
{
    bool read = true;
    const FeedTrackerSparql::StoredChannel stored = channel.uri().isEmpty()
        ? FeedTrackerSparql::StoredChannel()
        : _tracker->storedChannel(channel.uri(), &read);
    if (!read) {
        FEED_LOG(critical, "CacheManager") << "Store read failed, no message deleted or added for" << channel.uri();
        if (ok)
            *ok = false;
        return QList<FeedMessage>();
    }
    QStringList held;
    return updateFeedMessage(channel, stored, ok, &held);
}

QList<FeedMessage> FeedCacheManager::updateFeedMessage(const FeedChannel& channel,
                                                       const FeedTrackerSparql::StoredChannel& stored, bool* ok,
                                                       QStringList* heldLinks)
{
    bool read = true;
    if (!ok)
        ok = &read;
    *ok = true;
    *heldLinks = stored.messageLinks;
    const QString uri = channel.uri();
    if (uri.isEmpty()) {
        FEED_LOG(critical, "CacheManager") << "Empty Channel uri";
        *ok = false;
        return QList<FeedMessage>();
    }
    bool firstFill = false;
    const QList<FeedMessage> candidates = newMessages(channel, stored, ok, &firstFill);
    if (*ok && !firstFill && candidates.isEmpty()) {
        FEED_LOG(critical, "CacheManager") << "No new messages to add to tracker";
        return QList<FeedMessage>();
    }
    QList<FeedMessage> added;
    if (*ok)
        added = messagesToBeAdded(candidates, uri, stored.deletableMessageCount, ok, heldLinks);
    // A failed read tells nothing of what is stored: deleting or adding on it could lose
    // messages or store them twice.
    if (!*ok) {
        FEED_LOG(critical, "CacheManager") << "Store read failed, no message deleted or added for" << uri;
        return QList<FeedMessage>();
    }
    return added;
}

// A channel that holds no message takes the first of every kind without reading more.
QList<FeedMessage> FeedCacheManager::newMessages(const FeedChannel& channel,
                                                 const FeedTrackerSparql::StoredChannel& stored, bool* ok,
                                                 bool* firstFill)
{
    const QString uri = channel.uri();
    const QList<FeedMessage> candidates = firstMessages(channel.messages());
    if (hasLink(channel.messages()))
        return removeDuplicateMessages(candidates, stored.messageLinks);
    *firstFill = stored.messageLinks.isEmpty();
    if (*firstFill)
        return candidates;
    const QDateTime latest = _tracker->latestPostPublishedTime(uri, ok);
    if (!*ok)
        return QList<FeedMessage>();
    if (latest.isValid())
        return messagesPublishedAfter(channel, latest);
    // Neither link nor date: a message is known by its title and description as stored.
    const QList<QPair<QString, QString>> texts = _tracker->messageTextsOfChannel(uri, ok);
    return *ok ? messagesWithNewTexts(candidates, texts) : QList<FeedMessage>();
}

QList<FeedMessage> FeedCacheManager::firstMessages(const QList<FeedMessage>& messages) const
{
    return messages.mid(0, _maxPosts);
}

QList<FeedMessage> FeedCacheManager::messagesPublishedAfter(const FeedChannel& channel, const QDateTime& time) const
{
    QList<FeedMessage> later;
    for (const FeedMessage& message : firstMessages(channel.messages())) {
        if (message.publishedDate().isValid() && message.publishedDate() > time)
            later.append(message);
    }
    return later;
}

QList<FeedMessage> FeedCacheManager::removeDuplicateMessages(const QList<FeedMessage>& messages,
                                                             const QStringList& links) const
{
    if (links.isEmpty()) {
        FEED_LOG(debug, "CacheManager") << "existing messages are empty";
        return messages;
    }
    const QSet<QString> stored(links.cbegin(), links.cend());
    QList<FeedMessage> fresh;
    for (const FeedMessage& message : messages) {
        if (!stored.contains(message.link()))
            fresh.append(message);
    }
    return fresh;
}

// A text pair counts once per fetch too: the second of two alike would be stored beside
// the first and then be new at no later fetch. Keyed by title alone, so that the long
// descriptions are compared only where the titles match, never hashed.
QList<FeedMessage> FeedCacheManager::messagesWithNewTexts(const QList<FeedMessage>& messages,
                                                          const QList<QPair<QString, QString>>& storedTexts) const
{
    QMultiHash<QString, QString> known;
    known.reserve(storedTexts.size() + messages.size());
    for (const QPair<QString, QString>& text : storedTexts)
        known.insert(text.first, text.second);
    QList<FeedMessage> fresh;
    for (const FeedMessage& message : messages) {
        if (known.contains(message.title(), message.description()))
            continue;
        known.insert(message.title(), message.description());
        fresh.append(message);
    }
    return fresh;
}

QList<FeedMessage> FeedCacheManager::messagesToBeAdded(const QList<FeedMessage>& messages, const QString& channelUri,
                                                       int deletable, bool* ok, QStringList* heldLinks)
{
    const int total = deletable + messages.size();
    FEED_LOG(debug, "CacheManager") << "Total Messages ( " << total << " ) = new message count ( "
                                    << messages.size() << " ) + deletableMessageCount ( " << deletable << " )";
    if (total > _maxPosts && !deleteMessages(channelUri, total - _maxPosts, heldLinks)) {
        *ok = false;
        return QList<FeedMessage>();
    }
    return firstMessages(messages);
}

// Oldest first; false when the store could not list or delete them. The links the channel no
// longer holds leave *heldLinks.
bool FeedCacheManager::deleteMessages(const QString& channelUri, int count, QStringList* heldLinks)
{
    FEED_LOG(debug, "CacheManager") << "noOfMessages to be Deleted from Tracker: " << count;
    bool ok = true;
    const QStringList uris = _tracker->deletableMessages(channelUri, count, &ok);
    QStringList removed;
    if (!ok || (!uris.isEmpty() && !_tracker->deleteMessagesOfChannel(uris, channelUri, &removed)))
        return false;
    for (int i = 0; heldLinks && i < removed.size(); ++i)
        heldLinks->removeOne(removed.at(i));
    return true;
}

bool FeedCacheManager::changeCacheSetting(const QString& key, const QVariant& value)
{
    qlonglong requested = 0;
    if (key != CachePostsKey || !wholeNumber(value, &requested) || requested == _maxPosts) {
        FEED_LOG(warning, "CacheManager") << "Cache settings are not changed";
        return false;
    }
    const quint16 old = _maxPosts;
    _maxPosts = boundedPosts(requested);
    FEED_LOG(debug, "CacheManager") << "Max Posts Limit per feed: " << _maxPosts;
    if (old > _maxPosts)
        trimAllChannels();
    return true;
}

void FeedCacheManager::trimAllChannels()
{
    for (const QString& uri : _tracker->allChannelUrls()) {
        bool ok = true;
        const int deletable = _tracker->deletableMessageCount(uri, &ok);
        if (ok && deletable > _maxPosts)
            deleteMessages(uri, deletable - _maxPosts, nullptr);
    }
}

// A running download is stopped before its files go, so that it cannot leave a ".part"
// behind or finish into a file that nothing refers to.
void FeedCacheManager::handleEnclosureDeletion(QList<FeedEnclosure>& enclosureList)
{
    cancelDownloads(enclosureList);
    FeedEnclosureFiles::remove(enclosureList);
}

void FeedCacheManager::cancelDownloads(const QList<FeedEnclosure>& enclosures)
{
    FeedTaskManager::instance()->cancelDownloadEnclosure(enclosures);
}
