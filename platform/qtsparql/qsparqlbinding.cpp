#include "qsparqlbinding.h"

#include "qsparqltext.h"

QSparqlBinding::QSparqlBinding(const QString& name, const QVariant& value) : _name(name), _value(value)
{
}

QString QSparqlBinding::toString() const
{
    return QSparqlText::term(_value);
}
