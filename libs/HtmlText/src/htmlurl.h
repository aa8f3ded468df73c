#ifndef HTMLURL_H
#define HTMLURL_H

#include <QString>

// A URL as a browser takes it from an attribute value whose character references are
// already decoded: before looking for its scheme a browser strips leading and trailing
// controls and blanks and drops every tab and line break, so "java\tscript:" is a script.
class HtmlUrl
{
public:
    static QString normalised(const QString& value);
    // The scheme in lower case, or an empty string for a relative reference.
    static QString scheme(const QString& normalisedUrl);
};

#endif
