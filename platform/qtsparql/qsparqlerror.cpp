#include "qsparqlerror.h"

#include <QDebug>

QSparqlError::QSparqlError(const QString& message, ErrorType type, int number)
    : _message(message), _type(type), _number(number)
{
}

QDebug operator<<(QDebug debug, const QSparqlError& error)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "QSparqlError(" << error.message() << ", " << int(error.type()) << ", "
                    << error.number() << ')';
    return debug;
}
