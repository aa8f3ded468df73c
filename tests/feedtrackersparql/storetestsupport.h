#ifndef STORETESTSUPPORT_H
#define STORETESTSUPPORT_H

#include <QStringList>
#include <QVariant>

class QSparqlConnection;

// Log lines of the running test, and direct looks into the store beside the class under test.
namespace StoreTestSupport {

void captureLog();
QStringList takeLog();
// Lines of the captured log that hold the words.
int countLogged(const QString& words);

// Rows of a select, each row as a list of values; fails the running test on a store error.
QList<QVariantList> select(QSparqlConnection* connection, const QString& text);
bool update(QSparqlConnection* connection, const QString& text);
// Removes every channel, message, enclosure and link node.
void wipe(QSparqlConnection* connection);

} // namespace StoreTestSupport

#endif
