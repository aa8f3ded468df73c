#ifndef QSPARQLCONNECTIONOPTIONS_H
#define QSPARQLCONNECTIONOPTIONS_H

#include <QString>

// How a connection reaches the store. By default it talks to the store service on the session
// bus; a database directory opens that directory in this process instead, which only a
// single-process unit test may do (never while a store service owns the directory).
class QSparqlConnectionOptions
{
public:
    QString databaseDirectory() const { return _databaseDirectory; }
    void setDatabaseDirectory(const QString& directory) { _databaseDirectory = directory; }

private:
    QString _databaseDirectory;
};

#endif
