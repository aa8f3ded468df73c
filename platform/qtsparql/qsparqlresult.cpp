#include "qsparqlresult.h"

QSparqlResult::QSparqlResult(const QVector<QSparqlResultRow>& rows, QObject* parent)
    : QObject(parent), _rows(rows)
{
}

QSparqlResult::QSparqlResult(const QSparqlError& error, QObject* parent) : QObject(parent), _error(error)
{
}

bool QSparqlResult::next()
{
    if (_position < _rows.size())
        ++_position;
    return isValid();
}

QSparqlResultRow QSparqlResult::current() const
{
    return isValid() ? _rows.at(_position) : QSparqlResultRow();
}
