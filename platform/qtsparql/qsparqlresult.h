#ifndef QSPARQLRESULT_H
#define QSPARQLRESULT_H

#include "qsparqlerror.h"
#include "qsparqlresultrow.h"

#include <QObject>
#include <QVector>

// The answer to one query. Queries run synchronously, so a result is complete when the
// connection hands it out; the caller releases it with deleteLater().
class QSparqlResult : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QSparqlResult)

public:
    explicit QSparqlResult(const QVector<QSparqlResultRow>& rows, QObject* parent = nullptr);
    explicit QSparqlResult(const QSparqlError& error, QObject* parent = nullptr);

    bool waitForFinished() { return !hasError(); }
    bool hasError() const { return _error.isValid(); }
    QSparqlError lastError() const { return _error; }

    // The cursor starts before the first row.
    bool next();
    bool isValid() const { return _position >= 0 && _position < _rows.size(); }
    int size() const { return _rows.size(); }

    QSparqlResultRow current() const;
    QSparqlBinding binding(int index) const { return current().binding(index); }
    QVariant value(int index) const { return current().value(index); }

private:
    QVector<QSparqlResultRow> _rows;
    QSparqlError _error;
    int _position = -1;
};

#endif
