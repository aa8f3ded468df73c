#ifndef QSPARQLTEXT_H
#define QSPARQLTEXT_H

#include <QHash>
#include <QString>
#include <QVariant>

// The text passes of the layer: placeholders filled with the terms of their values, and the
// store's dialect. Every pass walks the text once and skips string literals, IRIs and
// comments, so a value put in is never scanned again.
namespace QSparqlText {

// Replaces each "?:name" by the term of its value. A missing or unwritable value leaves the
// placeholder in place and names it in *error.
QString substitute(const QString& text, const QHash<QString, QVariant>& values, QString* error);

// "?_name" becomes "$_name": the same variable, which the store's parser accepts after a
// predicate where it refuses "?_".
QString storeDialect(const QString& text);

} // namespace QSparqlText

#endif
