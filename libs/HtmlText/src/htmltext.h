#ifndef HTMLTEXT_H
#define HTMLTEXT_H

#include <QString>

// The text that an HTML fragment shows.
class HtmlText
{
public:
    // Tags, comments, and script and style elements with their content are dropped as a
    // browser reads them (a ">" inside a quoted attribute value ends nothing), character
    // references are decoded and white space is folded. A tag that never closes, and a
    // script or style that is never closed, stay as text: words are not lost to a stray "<".
    static QString toPlainText(const QString& html);
};

#endif
