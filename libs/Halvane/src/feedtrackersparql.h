#ifndef FEEDTRACKERSPARQL_H
#define FEEDTRACKERSPARQL_H

#include "feedchannel.h"
#include "feedenclosure.h"
#include "feedmessage.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <memory>

class QSparqlConnection;
class QSparqlQuery;
class QSparqlResult;
class QSparqlResultRow;

// The feed store: channels, messages and enclosures in the RDF store, read and written with
// SPARQL. Every operation waits for the store; nothing is cached.
class FeedTrackerSparql : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FeedTrackerSparql)

public:
    static FeedTrackerSparql* instance();
    static void releaseInstance();

    FeedTrackerSparql();
    virtual ~FeedTrackerSparql();

    // Keys of the property map of editChannel().
    static QString LinkKey;
    static QString TitleKey;
    static QString LastModifiedTimeKey;

    // False when the store service could not be reached: every operation would fail.
    bool isValid() const;

    // A message or enclosure link as the store keeps it and reads it back: the text as given, but
    // with what an IRI cannot hold percent-encoded (SparqlTerms::storedLink()).
    static QString storedLink(const QString& link);

    // Empty also when the query failed; *ok tells the two apart.
    QStringList allChannelUrls(bool* ok = nullptr) const;
    // Empty also when the query failed; *ok tells the two apart.
    QList<FeedChannel> allChannels(bool* ok = nullptr) const;
    // An empty record also when the query failed; *ok tells the two apart.
    FeedChannel channelForUri(const QString& uri, bool* ok = nullptr) const;
    // The URIs of a request whose channel the store holds, in request order and as requested
    // (repeats kept, empty and unknown ones left out): what channelForUri() finds, one query a
    // slice of the list.
    QStringList storedChannelUris(const QStringList& uris) const;
    // channelForUri() of each URI, in order, one query a slice of the list: an empty record for
    // a URI that names no channel or could not be asked about (then *ok is false).
    QList<FeedChannel> channelsForUris(const QStringList& uris, bool* ok = nullptr) const;
    QString channelType(const QString& uri) const;

    // What a refresh compares a fetched channel with. A value the store does not hold is null.
    struct StoredChannel {
        bool exists = false;
        QString title;
        QString image;
        QString lastModifiedTime;
        // As messageLinksOfChannel() and deletableMessageCount() give them.
        QStringList messageLinks;
        int deletableMessageCount = 0;
    };

    QString addChannel(const FeedChannel& channel) const;
    bool updateChannel(const FeedChannel& channel) const;
    // Whether the URI names a channel, its values and its messages, in one query.
    StoredChannel storedChannel(const QString& channelUri, bool* ok = nullptr) const;
    // updateChannel() and addMessages() in one update, after storedChannel(): only the values that
    // differ from those stored are written, with the time of the refresh, and the icon's record
    // only where the icon file changed. The channel's values are written only where the URI names
    // a channel when the update runs; *channelWritten tells whether they held. True when every
    // message did; the indexes of those that did not go to *unwritten.
    bool refreshChannel(const FeedChannel& channel, const StoredChannel& stored, const QList<FeedMessage>& messages,
                        bool* channelWritten, QSet<int>* unwritten = nullptr) const;
    // The last-update time of each channel, in one update; a URI that names no channel gets
    // nothing.
    bool setLastModifiedTimes(const QHash<QString, QDateTime>& times) const;
    bool editChannel(const QString& channelUri, const QVariantMap& properties) const;

    QString addMessageQuery(const FeedMessage& message, const QString& channelUri) const;
    bool addMessages(const QList<FeedMessage>& messages, const QString& channelUri) const;

    QList<FeedMessage> messagesForChannel(const QString& channelUri) const;
    QStringList allMessageUrls(const QString& channelUri) const;
    // The reads below set *ok to false when the store could not answer, which their empty
    // answers alone do not tell apart from a channel without messages.
    QStringList messageLinksOfChannel(const QString& channelUri, bool* ok = nullptr) const;
    // The title and description of each stored message of the channel, as stored.
    QList<QPair<QString, QString>> messageTextsOfChannel(const QString& channelUri, bool* ok = nullptr) const;
    QDateTime latestPostPublishedTime(const QString& channelUri, bool* ok = nullptr);
    int deletableMessageCount(const QString& channelUri, bool* ok = nullptr) const;
    QStringList deletableMessages(const QString& channelUri, int limit, bool* ok = nullptr);
    // Whether a message node of that URI is stored; *ok is false when the store could not tell.
    bool isMessageStored(const QString& messageUri, bool* ok = nullptr) const;

    void deleteChannel(const QString& channelUri);
    void deleteAllChannels();
    void deleteChannelImageIfNotInUse(const QString& channelUri, const QString& image) const;
    void deleteChannelImage(const QString& channelUri) const;
    bool deleteMessages(const QString& channelUri);
    void deleteMessages(QList<QUrl> messageUris);
    void deleteMessage(const QString& messageUri, const QString& channelUri);
    // deleteMessage() for each message, in one delete: a message that another channel also
    // holds only leaves this one. False when the store could not be asked or refused it. The
    // links the channel no longer holds go to *removedLinks, as messageLinksOfChannel() gave them.
    bool deleteMessagesOfChannel(const QStringList& messageUris, const QString& channelUri,
                                 QStringList* removedLinks = nullptr);

    void deleteEnclosures(QList<QUrl> enclosureUris);
    void deleteEnclosures(const QString& messageUri);
    void deleteEnclosure(const QString& enclosureUri) const;
    void deleteOrphans();
    void deleteOrphanMessages();
    void deleteOrphanEnclosures();

    bool addEnclosures(const QList<FeedEnclosure>& enclosures, const QString& parentUri) const;
    QList<FeedEnclosure> enclosuresForMessage(const QString& messageUri) const;
    FeedEnclosure enclosureForUri(const QString& uri) const;
    // enclosureForUri() of each URI, in order, one query a slice of the list: an empty record
    // for a URI the store does not hold or could not be asked about.
    QList<FeedEnclosure> enclosuresForUris(const QStringList& uris) const;
    // The URI of the stored enclosure of each remote URL the store holds, by remote URL; one
    // query for the list. Empty when the query fails.
    QHash<QString, QString> enclosureUrisForRemoteUrls(const QStringList& remoteUrls) const;
    bool updateEnclosure(const FeedEnclosure& enclosure) const;

signals:
    // Emitted once the records of these enclosures are gone from the store.
    void enclosuresToBeDeleted(QList<FeedEnclosure>& enclosureList);

private:
    struct CallSite;
    struct ResultRelease {
        void operator()(QSparqlResult* result) const;
    };
    using Result = std::unique_ptr<QSparqlResult, ResultRelease>;
    enum class FailureDetail { PreparedText, StoreError };
    // An enclosure with the IRI of its remote link.
    using RemoteEnclosure = QPair<FeedEnclosure, QString>;

    // Runs the query and waits for it. A missing result or a store error is logged with the
    // caller's words and gives null; *reached tells the two apart.
    Result execute(const QSparqlQuery& query, const CallSite& site, const char* noResultWords,
                   const char* errorWords, FailureDetail detail = FailureDetail::PreparedText,
                   bool* reached = nullptr) const;

    // The rows of each node the query finds, by the node's term in its first column: the query
    // runs once a slice of the URIs' distinct terms, which stand in for "%nodes". A slice that
    // fails gives no rows, and *ok false.
    QHash<QString, QList<QSparqlResultRow>> rowsOfNodes(const QString& text, const QStringList& uris,
                                                        const CallSite& site, bool* ok = nullptr) const;
    // Stored enclosure nodes by remote-link IRI; *found is false when the look-up failed.
    QHash<QString, QString> storedEnclosureNodes(const QStringList& remotes, bool* found) const;
    // The stored enclosure of each remote-link term, as its plain URI.
    QHash<QString, QString> enclosureUrisOfTerms(const QStringList& remotes, bool* found) const;
    // Insert texts of new enclosures and association texts of known ones, under the parent
    // IRI; nodes holds the known ones by remote-link IRI and gains the new ones, made the
    // records of the new ones.
    QString enclosureTexts(const QList<RemoteEnclosure>& enclosures, const QString& parent,
                           QHash<QString, QString>* nodes, QHash<QString, FeedEnclosure>* made) const;

    // Whether the URI names a channel, in one look-up; a failed look-up and any other node are
    // logged with the caller's words and give false.
    bool channelExists(const QString& channelUri, const CallSite& site, const char* errorWords,
                       const char* notFoundWords, bool logQuery) const;
    bool editLink(const QString& channelUri, const QString& link) const;
    bool editTitle(const QString& channelUri, const QString& title) const;
    bool editLastModifiedTime(const QString& channelUri, const QString& time) const;

    // Insert texts of the messages under the channel term, one a message; with iconText, also the
    // text of the icon's record under the channel. False when a look-up failed.
    bool messageTexts(const QList<FeedMessage>& messages, const QString& channel, const FeedEnclosure& icon,
                      QString* iconText, QStringList* texts) const;
    // Stored message nodes by link IRI, for the links given as IRIs.
    bool storedMessageNodes(const QStringList& links, QHash<QString, QString>* nodes) const;
    // Remote-link IRIs of the enclosures stored under each of the given message IRIs.
    bool storedEnclosureLinks(const QStringList& messages, QHash<QString, QStringList>* links) const;
    // The local link of the channel's icon enclosure; false when the query failed.
    bool channelIconFile(const QString& channelUri, QString* localLink, const CallSite& site) const;
    bool deleteMessageList(const QList<QUrl>& messageUris);
    // The icon files of deleted channels (by IRI, with their image texts) that no channel shows.
    void deleteIconFilesOfDeletedChannels(const QStringList& channels, const QHash<QString, QString>& images) const;
    // A stored message: whether another existing channel holds it too, and its link IRIs.
    struct StoredMessage {
        bool shared = false;
        QStringList links;
    };
    bool storedMessages(const QStringList& messages, const QString& channel,
                        QHash<QString, StoredMessage>* stored) const;
    // The links of the messages that no other channel holds which are a channel's feed link.
    bool feedLinks(const QHash<QString, StoredMessage>& stored, QSet<QString>* feeds) const;
    void deleteEnclosuresOfDeletedMessages(const QList<QUrl>& messageUris);
    // Runs the texts as one update; when that fails, one by one, leaving out those that fail.
    // The indexes of the texts that failed go to *failed.
    bool runBatch(const QStringList& texts, QSet<int>* failed = nullptr) const;

    QSparqlConnection* _connection;
    static FeedTrackerSparql* _single;
};

QString createAssociation(const FeedMessage& message, const QString& channelUri);

FeedChannel extractChannel(const QSparqlResultRow& row);
FeedMessage extractMessage(const QSparqlResultRow& row);
FeedEnclosure extractEnclosure(const QSparqlResultRow& row);

#endif
