#ifndef QSPARQLCONNECTION_H
#define QSPARQLCONNECTION_H

#include "qsparqlconnectionoptions.h"

#include "qsparqlresultrow.h"

#include <QObject>
#include <QUrl>
#include <QVector>

#include <memory>

class QSparqlQuery;
class QSparqlResult;
class QSparqlWatchdog;
struct _GError;
struct _TrackerSparqlConnection;

// A connection to the RDF store. The driver "QTRACKER_DIRECT" reaches the store service on
// the session bus under VirelonPaths::storeService(). Queries run synchronously, each for at
// most VIRELON_STORE_TIMEOUT_MS (60 s): a call the store has not answered by then fails.
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
    // The result of the call the watchdog was armed for.
    QSparqlResult* finish(_GError* error, const QVector<QSparqlResultRow>& rows = QVector<QSparqlResultRow>());

    QString _driverName;
    std::unique_ptr<QSparqlWatchdog> _watchdog;
    _TrackerSparqlConnection* _tracker = nullptr;
};

#endif
