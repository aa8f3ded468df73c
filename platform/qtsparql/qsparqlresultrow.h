#ifndef QSPARQLRESULTROW_H
#define QSPARQLRESULTROW_H

#include "qsparqlbinding.h"

#include <QVector>

// One row of a select result: one binding per projected variable, in projection order.
class QSparqlResultRow
{
public:
    void append(const QSparqlBinding& binding) { _bindings.append(binding); }
    // Replaces the binding of an existing column; an index out of range changes nothing.
    void set(int index, const QSparqlBinding& binding)
    {
        if (index >= 0 && index < _bindings.size())
            _bindings[index] = binding;
    }

    QSparqlBinding binding(int index) const { return _bindings.value(index); }
    QVariant value(int index) const { return binding(index).value(); }
    int count() const { return _bindings.size(); }
    bool isEmpty() const { return _bindings.isEmpty(); }

private:
    QVector<QSparqlBinding> _bindings;
};

#endif
