#ifndef FEEDTRACKERSPARQL_H
#define FEEDTRACKERSPARQL_H

#include "feedchannel.h"
#include "feedenclosure.h"
#include "feedmessage.h"

#include <QHash>
#include <QList>
#include <QObject>
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

    QStringList allChannelUrls() const;
    QList<FeedChannel> allChannels() const;
    FeedChannel channelForUri(const QString& uri) const;
    QString channelType(const QString& uri) const;

    bool addEnclosures(const QList<FeedEnclosure>& enclosures, const QString& parentUri) const;
    QList<FeedEnclosure> enclosuresForMessage(const QString& messageUri) const;
    FeedEnclosure enclosureForUri(const QString& uri) const;
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

    // Runs the query and waits for it. A missing result or a store error is logged with the
    // caller's words and gives null; *reached tells the two apart.
    Result execute(const QSparqlQuery& query, const CallSite& site, const char* noResultWords,
                   const char* errorWords, FailureDetail detail = FailureDetail::PreparedText,
                   bool* reached = nullptr) const;

    // Stored enclosure nodes by remote-link IRI; *found is false when the look-up failed.
    QHash<QString, QString> storedEnclosureNodes(const QStringList& remotes, bool* found) const;

    QSparqlConnection* _connection;
    static FeedTrackerSparql* _single;
};

FeedChannel extractChannel(const QSparqlResultRow& row);
FeedMessage extractMessage(const QSparqlResultRow& row);
FeedEnclosure extractEnclosure(const QSparqlResultRow& row);

#endif
