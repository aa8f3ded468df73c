#ifndef HTMLTAG_H
#define HTMLTAG_H

#include <QLatin1String>
#include <QString>
#include <QStringRef>
#include <QVarLengthArray>

// One start or end tag of an HTML text, read as a browser's tokenizer reads it, kept as
// offsets into the text so that a caller can edit the text in place. Attribute values are
// raw: their character references stay as written (HtmlEntities decodes them).
class HtmlTag
{
public:
    struct Attribute
    {
        int nameStart = 0;
        int nameEnd = 0;
        int valueStart = -1; // the value without its quotes; -1 when there is none
        int valueEnd = -1;
        QChar quote;         // null for an unquoted value
        int end = 0;         // after the value and its closing quote

        bool hasValue() const { return valueStart >= 0; }
    };
    using Attributes = QVarLengthArray<Attribute, 8>;

    // Whether a tag starts at position: "<" and an ASCII letter, or "</" and one.
    static bool startsAt(const QString& text, int position);
    // Whether a start tag of that name (ASCII, lower case) starts at position.
    static bool startsAt(const QString& text, int position, QLatin1String name);
    // The white space of HTML: tab, line feed, form feed, carriage return and space.
    static bool isSpace(QChar character)
    {
        const ushort code = character.unicode();
        return code == ' ' || code == '\t' || code == '\n' || code == '\f' || code == '\r';
    }

    // Reads the tag at start, where startsAt() holds. The text must outlive the tag.
    HtmlTag(const QString& text, int start);

    bool isEndTag() const { return _endTag; }
    // False when the tag runs into the end of the text; a browser shows none of such a tag.
    bool isTerminated() const { return _terminated; }
    // Closed with "/>".
    bool isSelfClosing() const { return _selfClosing; }
    int start() const { return _start; }
    // After its ">", or the size of the text when it is not terminated.
    int end() const { return _end; }

    QStringRef name() const;
    // Compared as a browser does, ignoring ASCII case; name is lower case.
    bool nameIs(QLatin1String name) const;

    const Attributes& attributes() const { return _attributes; }
    QStringRef attributeName(const Attribute& attribute) const;
    bool attributeNameIs(const Attribute& attribute, QLatin1String name) const;
    QStringRef rawValue(const Attribute& attribute) const;
    // The first attribute of that name (a browser ignores the later ones), or null.
    const Attribute* attribute(QLatin1String name) const;

private:
    void read();
    int readAttribute(int position);

    const QString* _text;
    int _start;
    int _nameStart = 0;
    int _nameEnd = 0;
    int _end = 0;
    bool _endTag = false;
    bool _terminated = false;
    bool _selfClosing = false;
    Attributes _attributes;
};

#endif
