#ifndef QSPARQLQUERY_H
#define QSPARQLQUERY_H

#include <QHash>
#include <QString>
#include <QVariant>

class QSparqlBinding;

// A SPARQL text with its statement type and the values of its "?:name" placeholders.
class QSparqlQuery
{
public:
    enum StatementType {
        SelectStatement = 0,
        AskStatement = 1,
        ConstructStatement = 2,
        DescribeStatement = 3,
        InsertStatement = 4,
        DeleteStatement = 5
    };

    explicit QSparqlQuery(const QString& text = QString(), StatementType type = SelectStatement);

    QString query() const { return _text; }
    StatementType type() const { return _type; }
    bool isTable() const { return _type == SelectStatement; }

    void bindValue(const QString& name, const QVariant& value);
    void bindValue(const QSparqlBinding& binding);

    // The text with every placeholder filled; one without a usable value stays as it is.
    QString preparedQueryText() const;
    // The same, with the reason why it cannot be sent (empty when it can).
    QString preparedQueryText(QString* error) const;

private:
    QString _text;
    StatementType _type;
    QHash<QString, QVariant> _values;
};

#endif
