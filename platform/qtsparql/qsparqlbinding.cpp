#include "qsparqlbinding.h"

#include "sparqlterms.h"

QSparqlBinding::QSparqlBinding(const QString& name, const QVariant& value) : _name(name), _value(value)
{
}

QString QSparqlBinding::toString() const
{
    return SparqlTerms::valueTerm(_value);
}
