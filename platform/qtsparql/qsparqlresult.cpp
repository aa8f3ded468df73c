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

bool QSparqlResult::previous()
{
    if (_position >= 0)
        --_position;
    return isValid();
}

bool QSparqlResult::first()
{
    _position = _rows.isEmpty() ? -1 : 0;
    return isValid();
}

QSparqlResultRow QSparqlResult::current() const
{
    return isValid() ? _rows.at(_position) : QSparqlResultRow();
}
