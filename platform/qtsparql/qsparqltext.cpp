#include "qsparqltext.h"

#include "sparqlterms.h"

namespace {

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Length of the string literal, IRI or comment that starts at pos; 0 when none does.
int skippedLength(const QString& text, int pos)
{
    const QChar c = text.at(pos);
    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
        const QString triple(3, c);
        const bool isLong = text.midRef(pos, 3) == triple;
        int i = pos + (isLong ? 3 : 1);
        while (i < text.size()) {
            if (text.at(i) == QLatin1Char('\\')) {
                i += 2;
                continue;
            }
            if (isLong ? text.midRef(i, 3) == triple : text.at(i) == c)
                return i + (isLong ? 3 : 1) - pos;
            ++i;
        }
        return text.size() - pos;
    }
    if (c == QLatin1Char('<')) {
        for (int i = pos + 1; i < text.size(); ++i) {
            if (text.at(i) == QLatin1Char('>'))
                return i + 1 - pos;
            if (SparqlTerms::iriRefExcludes(text.at(i)))
                return 0; // a comparison, not an IRI
        }
        return 0;
    }
    if (c == QLatin1Char('#')) {
        const int end = text.indexOf(QLatin1Char('\n'), pos);
        return (end < 0 ? text.size() : end) - pos;
    }
    return 0;
}

// Walks the text once; at each "?" outside literals, IRIs and comments, replace() may give
// the text to put in place of what follows and how much of it to consume.
template<typename Replace>
QString rewrite(const QString& text, Replace replace)
{
    QString out;
    out.reserve(text.size());
    int pos = 0;
    while (pos < text.size()) {
        const int skip = skippedLength(text, pos);
        if (skip > 0) {
            out += text.midRef(pos, skip);
            pos += skip;
            continue;
        }
        int consumed = 0;
        if (text.at(pos) == QLatin1Char('?')) {
            const QString replacement = replace(pos, &consumed);
            if (consumed > 0) {
                out += replacement;
                pos += consumed;
                continue;
            }
        }
        out += text.at(pos++);
    }
    return out;
}

} // namespace

namespace QSparqlText {

QString substitute(const QString& text, const QHash<QString, QVariant>& values, QString* error)
{
    return rewrite(text, [&](int pos, int* consumed) {
        if (pos + 1 >= text.size() || text.at(pos + 1) != QLatin1Char(':'))
            return QString();
        int end = pos + 2;
        while (end < text.size() && isNameChar(text.at(end)))
            ++end;
        const QString name = text.mid(pos + 2, end - pos - 2);
        if (name.isEmpty())
            return QString();
        const QString written = SparqlTerms::valueTerm(values.value(name));
        if (written.isEmpty()) {
            if (error && error->isEmpty())
                *error = QStringLiteral("No usable value bound to ?:") + name;
            return QString();
        }
        *consumed = end - pos;
        return written;
    });
}

QString storeDialect(const QString& text)
{
    return rewrite(text, [&](int pos, int* consumed) {
        if (pos + 1 >= text.size() || text.at(pos + 1) != QLatin1Char('_'))
            return QString();
        *consumed = 1;
        return QStringLiteral("$");
    });
}

} // namespace QSparqlText
