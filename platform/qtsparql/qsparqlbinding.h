#ifndef QSPARQLBINDING_H
#define QSPARQLBINDING_H

#include <QString>
#include <QVariant>

// One named value: a placeholder's value in a query, or one column of a result row.
class QSparqlBinding
{
public:
    QSparqlBinding() = default;
    explicit QSparqlBinding(const QString& name, const QVariant& value = QVariant());

    QString name() const { return _name; }
    void setName(const QString& name) { _name = name; }
    QVariant value() const { return _value; }
    void setValue(const QVariant& value) { _value = value; }
    bool isValid() const { return _value.isValid(); }

    // The value as a SPARQL term: an IRI, a quoted literal or a bare number or boolean;
    // empty when the value cannot be written (an empty or invalid URL, no value at all).
    QString toString() const;

private:
    QString _name;
    QVariant _value;
};

#endif
