#ifndef SPARQLTERMS_H
#define SPARQLTERMS_H

#include <QString>

class QChar;
class QUrl;
class QVariant;

// How values and links are written as SPARQL terms. Stored data and other clients rely on
// these forms: a link written in another one would never match what the store holds.
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

// An IRI text already in the form the store keeps, such as one read back from it, as a term.
QString iriTextTerm(const QString& iri);

// A link text as the store keeps it and reads it back: the text as given, but with each
// character that an IRI cannot hold percent-encoded. A valid escape stays as it is, so one text
// is always one IRI, and a stored link maps to itself.
QString storedLink(const QString& link);

// The term of a link text in its stored form.
QString linkTerm(const QString& link);

// A file path goes in as its file URL: the store takes a path as a relative IRI, but warns of
// every one. Any other text is a link.
QString pathOrLinkTerm(const QString& text);

// What pathOrLinkTerm() wrote, read back: the path of a file URL, any other IRI as it is.
QString pathOrLinkText(const QString& iri);

} // namespace SparqlTerms

#endif
