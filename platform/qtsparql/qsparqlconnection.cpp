#pragma push_macro("signals")
#undef signals
#include <libtracker-sparql/tracker-sparql.h>
#pragma pop_macro("signals")

#include "qsparqlconnection.h"

#include "qsparqlquery.h"
#include "qsparqlresult.h"
#include "qsparqltext.h"
#include "qsparqlwatchdog.h"

#include <QDateTime>
#include <QFile>
#include <QUuid>
#include <feedlog.h>
#include <virelonpaths.h>

namespace {

const QString DriverName = QStringLiteral("QTRACKER_DIRECT");
constexpr int DefaultTimeoutMs = 60000;

int timeoutMs()
{
    const int configured = qEnvironmentVariableIntValue("VIRELON_STORE_TIMEOUT_MS");
    return configured > 0 ? configured : DefaultTimeoutMs;
}

QString takeMessage(GError* error)
{
    const QString message = QString::fromUtf8(error->message);
    g_error_free(error);
    return message;
}

TrackerSparqlConnection* openDirectory(const QString& directory, QString* failure)
{
    GFile* store = g_file_new_for_path(QFile::encodeName(directory).constData());
    GFile* ontology = tracker_sparql_get_ontology_nepomuk();
    GError* error = nullptr;
    TrackerSparqlConnection* connection =
        tracker_sparql_connection_new(TRACKER_SPARQL_CONNECTION_FLAGS_NONE, store, ontology, nullptr, &error);
    g_object_unref(ontology);
    g_object_unref(store);
    if (error)
        *failure = takeMessage(error);
    return connection;
}

// GLib's session connection raises SIGTERM when the bus goes away: a program on the bus ends
// itself, cleanly, when it hears its own connection close.
TrackerSparqlConnection* openService(const QString& service, QString* failure)
{
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    TrackerSparqlConnection* connection = nullptr;
    if (bus) {
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        connection = tracker_sparql_connection_bus_new(service.toUtf8().constData(), nullptr, bus, &error);
        g_object_unref(bus);
    }
    if (error)
        *failure = takeMessage(error);
    return connection;
}

QVariant cursorValue(TrackerSparqlCursor* cursor, int column)
{
    const char* text = tracker_sparql_cursor_get_string(cursor, column, nullptr);
    switch (tracker_sparql_cursor_get_value_type(cursor, column)) {
    case TRACKER_SPARQL_VALUE_TYPE_UNBOUND: return QVariant();
    case TRACKER_SPARQL_VALUE_TYPE_INTEGER: return qlonglong(tracker_sparql_cursor_get_integer(cursor, column));
    case TRACKER_SPARQL_VALUE_TYPE_DOUBLE: return tracker_sparql_cursor_get_double(cursor, column);
    case TRACKER_SPARQL_VALUE_TYPE_BOOLEAN: return bool(tracker_sparql_cursor_get_boolean(cursor, column));
    case TRACKER_SPARQL_VALUE_TYPE_DATETIME: return QDateTime::fromString(QString::fromUtf8(text), Qt::ISODate);
    default: return QString::fromUtf8(text);
    }
}

// libtracker-sparql 3.4 keeps one reference too many to a bus cursor's "variables" value, which
// holds the whole reply message: every query leaks its reply, as does the one a connection makes
// while it opens; 3.5.0 mends it. The reference is released as each cursor is made, in the
// construction step that every cursor class inherits from the cursor base class. On a 3.5 or
// later library the value would be freed twice.
void (*baseConstructed)(GObject*) = nullptr;

void releaseLeakedReply(GObject* cursor)
{
    if (baseConstructed)
        baseConstructed(cursor);
    if (G_OBJECT_TYPE(cursor) != g_type_from_name("TrackerBusCursor"))
        return;
    GVariant* variables = nullptr;
    g_object_get(cursor, "variables", &variables, nullptr);
    if (!variables)
        return;
    g_variant_unref(variables); // the reference g_object_get gave
    g_variant_unref(variables); // the one the library never releases
}

// Before the library makes its first cursor: a cursor class takes its base's steps when it is
// first used.
void hookLeakedReplyRelease()
{
    static const bool hooked = [] {
        if (tracker_check_version(3, 4, 0) || !tracker_check_version(3, 5, 0))
            return false;
        auto* base = static_cast<GObjectClass*>(g_type_class_ref(TRACKER_TYPE_SPARQL_CURSOR));
        baseConstructed = base->constructed;
        base->constructed = releaseLeakedReply;
        return true;
    }();
    Q_UNUSED(hooked)
}

QSparqlResultRow cursorRow(TrackerSparqlCursor* cursor)
{
    QSparqlResultRow row;
    const int columns = tracker_sparql_cursor_get_n_columns(cursor);
    for (int column = 0; column < columns; ++column) {
        const QString name = QString::fromUtf8(tracker_sparql_cursor_get_variable_name(cursor, column));
        row.append(QSparqlBinding(name, cursorValue(cursor, column)));
    }
    return row;
}

} // namespace

QSparqlConnection::QSparqlConnection(const QString& driverName, const QSparqlConnectionOptions& options,
                                     QObject* parent)
    : QObject(parent), _driverName(driverName)
{
    if (driverName != DriverName)
        return;
    _watchdog.reset(new QSparqlWatchdog(timeoutMs()));
    hookLeakedReplyRelease();
    QString failure;
    const QString directory = options.databaseDirectory();
    _tracker = directory.isEmpty() ? openService(VirelonPaths::storeService(), &failure)
                                   : openDirectory(directory, &failure);
    if (!_tracker)
        FEED_LOG(warning, "Tracker") << "Store not reachable:" << failure;
}

QSparqlConnection::~QSparqlConnection()
{
    if (_tracker) {
        tracker_sparql_connection_close(_tracker);
        g_object_unref(_tracker);
    }
}

QSparqlResult* QSparqlConnection::exec(const QSparqlQuery& query)
{
    if (!isValid())
        return nullptr;
    QString error;
    const QString text = query.preparedQueryText(&error);
    if (!error.isEmpty())
        return new QSparqlResult(QSparqlError(error, QSparqlError::StatementError));
    // The store reads the text up to its first NUL: a NUL in a value would cut the query.
    if (text.contains(QChar(0)))
        return new QSparqlResult(QSparqlError(QStringLiteral("Query text holds a NUL character"),
                                              QSparqlError::StatementError));
    const QString sent = QSparqlText::storeDialect(text);
    return query.isTable() ? select(sent) : update(sent);
}

QUrl QSparqlConnection::createUrn() const
{
    return QUrl(QStringLiteral("urn:uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces));
}

QSparqlResult* QSparqlConnection::select(const QString& text)
{
    GError* error = nullptr;
    GCancellable* cancellable = _watchdog->arm();
    TrackerSparqlCursor* cursor =
        tracker_sparql_connection_query(_tracker, text.toUtf8().constData(), cancellable, &error);
    QVector<QSparqlResultRow> rows;
    if (cursor) {
        while (tracker_sparql_cursor_next(cursor, cancellable, &error))
            rows.append(cursorRow(cursor));
        tracker_sparql_cursor_close(cursor);
        g_object_unref(cursor);
    }
    return finish(error, rows);
}

QSparqlResult* QSparqlConnection::update(const QString& text)
{
    // The store refuses an empty update as a parse error; there is nothing to do.
    if (text.trimmed().isEmpty())
        return new QSparqlResult(QVector<QSparqlResultRow>());
    GError* error = nullptr;
    tracker_sparql_connection_update(_tracker, text.toUtf8().constData(), _watchdog->arm(), &error);
    return finish(error);
}

QSparqlResult* QSparqlConnection::finish(GError* error, const QVector<QSparqlResultRow>& rows)
{
    const bool expired = _watchdog->disarm();
    if (!error)
        return new QSparqlResult(rows);
    QString message = takeMessage(error);
    if (expired)
        message = QStringLiteral("The store did not answer within %1 ms").arg(_watchdog->milliseconds());
    return new QSparqlResult(QSparqlError(message, QSparqlError::BackendError));
}
