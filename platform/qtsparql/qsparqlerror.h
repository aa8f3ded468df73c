#ifndef QSPARQLERROR_H
#define QSPARQLERROR_H

#include <QString>

class QDebug;

// What went wrong with a query: the store's own message, or the layer's when the query never
// reached the store.
class QSparqlError
{
public:
    enum ErrorType { NoError, ConnectionError, StatementError, TransactionError, BackendError, UnknownError };

    explicit QSparqlError(const QString& message = QString(), ErrorType type = NoError, int number = -1);

    QString message() const { return _message; }
    ErrorType type() const { return _type; }
    int number() const { return _number; }
    bool isValid() const { return _type != NoError; }

private:
    QString _message;
    ErrorType _type;
    int _number;
};

QDebug operator<<(QDebug debug, const QSparqlError& error);

#endif
