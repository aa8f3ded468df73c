#ifndef SPARQLTERMS_H
#define SPARQLTERMS_H

#include <QString>

class QChar;
class QUrl;
class QVariant;

// How values are written as SPARQL terms. Stored data and other clients rely on these forms.
namespace SparqlTerms {

// Whether a character may not stand inside an IRIREF, so that "<" followed by it starts no IRI.
bool iriRefExcludes(QChar c);

// A value as a term: a URL as urlTerm(), a text as a quoted literal, a time as a typed one, a
// number or a boolean bare; empty when the value cannot be written.
QString valueTerm(const QVariant& value);

// A URL as an IRI from its fully encoded form, with what an IRIREF may not hold percent-encoded
// (the plain form leaves blanks raw). Empty for an empty or invalid URL: never "<>", which the
// store turns into a blank node.
QString urlTerm(const QUrl& url);

} // namespace SparqlTerms

#endif
