#ifndef HTMLURL_H
#define HTMLURL_H

#include <QString>
#include <QStringView>

// A URL as a browser takes it from an attribute value whose character references are
// already decoded: before looking for its scheme a browser strips leading and trailing
// controls and blanks and drops every tab and line break, so "java\tscript:" is a script.
class HtmlUrl
{
public:
    static QString normalised(const QString& value);
    // The scheme in lower case, or an empty string for a relative reference.
    static QString scheme(const QString& normalisedUrl);
    // Whether the scheme is the given one (lower case), without making a copy of it.
    static bool hasScheme(QStringView normalisedUrl, QLatin1String scheme);
    // The length of the scheme, 0 for a relative reference.
    static int schemeLength(QStringView normalisedUrl);
};

#endif
