#include "qsparqlquery.h"

#include "qsparqlbinding.h"
#include "qsparqltext.h"

QSparqlQuery::QSparqlQuery(const QString& text, StatementType type) : _text(text), _type(type)
{
}

void QSparqlQuery::bindValue(const QString& name, const QVariant& value)
{
    _values.insert(name, value);
}

void QSparqlQuery::bindValue(const QSparqlBinding& binding)
{
    _values.insert(binding.name(), binding.value());
}

QString QSparqlQuery::preparedQueryText() const
{
    return QSparqlText::substitute(_text, _values, nullptr);
}

QString QSparqlQuery::preparedQueryText(QString* error) const
{
    return QSparqlText::substitute(_text, _values, error);
}
