#ifndef HTMLENTITIES_H
#define HTMLENTITIES_H

#include <QString>
#include <QStringRef>

// Character references as a browser reads them: numeric ones with or without their ";"
// (0, surrogates and values past Unicode become U+FFFD, 0x80 to 0x9F read as windows-1252),
// and the named ones that matter for text and for the scheme of a URL. A name this does not
// know stays as written.
class HtmlEntities
{
public:
    enum Context {
        Text,     // between tags
        Attribute // in an attribute value: "&amp=" and "&ampx" stay as written
    };

    static QString decode(const QStringRef& text, Context context);
    static QString decode(const QString& text, Context context) { return decode(QStringRef(&text), context); }
};

#endif
