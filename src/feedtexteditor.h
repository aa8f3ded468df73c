#ifndef FEEDTEXTEDITOR_H
#define FEEDTEXTEDITOR_H

#include "htmltag.h"

#include <QString>

// Builds an edited copy of an HTML text from edits made in increasing position, in one pass:
// what no edit touches is copied once, and a text without edits is not copied at all.
class FeedTextEditor
{
public:
    explicit FeedTextEditor(const QString& text);

    void replace(int start, int end, const QString& replacement);
    void remove(int start, int end) { replace(start, end, QString()); }
    // Writes each "<" from start to end as "&lt;", so that no reading finds a tag there.
    void escapeBrackets(int start, int end);
    // A new value for the attribute, escaped for its quotes; an unquoted one gets quotes,
    // since the new value may hold blanks.
    void replaceValue(const HtmlTag::Attribute& attribute, const QString& value);

    bool isEdited() const { return _edited; }
    QString result();

    static QString escapedAttribute(const QString& value, QChar quote);

private:
    void copyTo(int position);

    const QString& _text;
    QString _result;
    int _copied = 0;
    bool _edited = false;
};

#endif
