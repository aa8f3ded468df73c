#include "storetestsupport.h"

#include <QtTest>
#include <memory>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>

namespace {

QStringList capturedLines;
QtMessageHandler previousHandler = nullptr;

void capturingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    capturedLines.append(message);
    if (qEnvironmentVariableIsSet("VIRELON_TEST_SHOW_LOG"))
        previousHandler(type, context, message);
}

} // namespace

namespace StoreTestSupport {

void captureLog()
{
    QtMessageHandler previous = qInstallMessageHandler(capturingHandler);
    if (previous != capturingHandler)
        previousHandler = previous;
}

QStringList takeLog()
{
    QStringList lines;
    lines.swap(capturedLines);
    return lines;
}

int countLogged(const QString& words)
{
    return capturedLines.filter(words).size();
}

QList<QVariantList> select(QSparqlConnection* connection, const QString& text)
{
    std::unique_ptr<QSparqlResult> result(connection->exec(QSparqlQuery(text)));
    QList<QVariantList> rows;
    if (!result || result->hasError()) {
        QTest::qFail(qPrintable(QStringLiteral("select failed: ") + text), __FILE__, __LINE__);
        return rows;
    }
    while (result->next()) {
        QVariantList row;
        for (int i = 0; i < result->current().count(); ++i)
            row.append(result->value(i));
        rows.append(row);
    }
    return rows;
}

bool update(QSparqlConnection* connection, const QString& text)
{
    std::unique_ptr<QSparqlResult> result(connection->exec(QSparqlQuery(text, QSparqlQuery::InsertStatement)));
    return result && !result->hasError();
}

void wipe(QSparqlConnection* connection)
{
    for (const char* type : {"mfo:FeedChannel", "mfo:FeedMessage", "mfo:Enclosure", "nie:DataObject"})
        update(connection, QStringLiteral("DELETE { ?x a rdfs:Resource } WHERE { ?x a %1 }").arg(QLatin1String(type)));
}

} // namespace StoreTestSupport
