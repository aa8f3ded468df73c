#ifndef FEEDCACHEMANAGER_H
#define FEEDCACHEMANAGER_H

#include "feedenclosure.h"
#include "feedmessage.h"
#include "feedtrackersparql.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class FeedChannel;
class QDateTime;
class QMutex;
class QVariant;

// Bounds the messages the store keeps per channel, picks the new messages of a fetched
// channel, and removes the files of enclosures whose records the store deletes.
class FeedCacheManager : public QObject
{
    Q_OBJECT

public:
    static const QString CachePostsKey;
    static const int DefaultMaxPosts = 100;
    static const int MinimumMaxPosts = 50;
    static const int MaximumMaxPosts = 500;

    // Null only when called while the instance is being made.
    static FeedCacheManager* instance();
    static void releaseInstance();

    // The messages to add as new, in the channel's order; the stored ones that they need room
    // for are already deleted. Of the messages past the first maxPosts() only the links are
    // read, so those may come unformatted. Empty when there is nothing to add or a store read
    // failed; *ok tells the two apart.
    QList<FeedMessage> updateFeedMessage(const FeedChannel& channel, bool* ok = nullptr);
    // The same on what storedChannel() read of the channel, which is not read again. *heldLinks
    // gets the links the channel holds once the room is made, before the new ones are added.
    QList<FeedMessage> updateFeedMessage(const FeedChannel& channel, const FeedTrackerSparql::StoredChannel& stored,
                                         bool* ok, QStringList* heldLinks);
    bool changeCacheSetting(const QString& key, const QVariant& value);

    int maxPosts() const { return _maxPosts; }

private slots:
    void handleEnclosureDeletion(QList<FeedEnclosure>& enclosureList);

private:
    Q_DISABLE_COPY(FeedCacheManager)

    FeedCacheManager();

    void applyCacheSetting();
    // The new ones of the channel's first messages; *firstFill when the channel holds nothing
    // yet and all of them are taken without a check.
    QList<FeedMessage> newMessages(const FeedChannel& channel, const FeedTrackerSparql::StoredChannel& stored,
                                   bool* ok, bool* firstFill);
    QList<FeedMessage> firstMessages(const QList<FeedMessage>& messages) const;
    QList<FeedMessage> messagesPublishedAfter(const FeedChannel& channel, const QDateTime& time) const;
    QList<FeedMessage> removeDuplicateMessages(const QList<FeedMessage>& messages, const QStringList& links) const;
    QList<FeedMessage> messagesWithNewTexts(const QList<FeedMessage>& messages,
                                            const QList<QPair<QString, QString>>& storedTexts) const;
    QList<FeedMessage> messagesToBeAdded(const QList<FeedMessage>& messages, const QString& channelUri, int deletable,
                                         bool* ok, QStringList* heldLinks);
    bool deleteMessages(const QString& channelUri, int count, QStringList* heldLinks);
    void trimAllChannels();
    void cancelDownloads(const QList<FeedEnclosure>& enclosures);

    static FeedCacheManager* _single;
    static QMutex _mutex;

    quint16 _maxPosts;
    FeedTrackerSparql* _tracker;
};

#endif
