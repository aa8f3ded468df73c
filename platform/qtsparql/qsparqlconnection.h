#ifndef QSPARQLCONNECTION_H
#define QSPARQLCONNECTION_H

#include "qsparqlconnectionoptions.h"

#include <QObject>
#include <QUrl>

class QSparqlQuery;
class QSparqlResult;
struct _TrackerSparqlConnection;

// A connection to the RDF store. The driver "QTRACKER_DIRECT" reaches the store service on
// the session bus under VirelonPaths::storeService(). Queries run synchronously.
class QSparqlConnection : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QSparqlConnection)

public:
    explicit QSparqlConnection(const QString& driverName,
                               const QSparqlConnectionOptions& options = QSparqlConnectionOptions(),
                               QObject* parent = nullptr);
    ~QSparqlConnection() override;

    bool isValid() const { return _tracker != nullptr; }
    QString driverName() const { return _driverName; }

    // Runs the query and returns its complete result, owned by the caller; null when the
    // connection is not valid.
    QSparqlResult* exec(const QSparqlQuery& query);

    // A new node identity.
    QUrl createUrn() const;

private:
    QSparqlResult* select(const QString& text);
    QSparqlResult* update(const QString& text);

    QString _driverName;
    _TrackerSparqlConnection* _tracker = nullptr;
};

#endif
