#include "htmltag.h"

namespace {

bool isAsciiLetter(QChar character)
{
    const ushort code = character.unicode();
    return (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z');
}

ushort asciiLower(ushort code)
{
    return code >= 'A' && code <= 'Z' ? ushort(code + ('a' - 'A')) : code;
}

bool sameName(const QChar* characters, int size, QLatin1String name)
{
    if (size != name.size())
        return false;
    for (int index = 0; index < size; ++index) {
        if (asciiLower(characters[index].unicode()) != uchar(name.at(index).toLatin1()))
            return false;
    }
    return true;
}

} // namespace

bool HtmlTag::startsAt(const QString& text, int position)
{
    const int size = text.size();
    if (position + 1 >= size || text.at(position) != QLatin1Char('<'))
        return false;
    if (isAsciiLetter(text.at(position + 1)))
        return true;
    return text.at(position + 1) == QLatin1Char('/') && position + 2 < size && isAsciiLetter(text.at(position + 2));
}

bool HtmlTag::startsAt(const QString& text, int position, QLatin1String name)
{
    const int end = position + 1 + name.size();
    if (end >= text.size() || text.at(position) != QLatin1Char('<')
        || !sameName(text.constData() + position + 1, name.size(), name))
        return false;
    const QChar after = text.at(end);
    return isSpace(after) || after == QLatin1Char('/') || after == QLatin1Char('>');
}

HtmlTag::HtmlTag(const QString& text, int start)
    : _text(&text)
    , _start(start)
{
    read();
}

void HtmlTag::read()
{
    const QString& text = *_text;
    const int size = text.size();
    int position = _start + 1;
    _endTag = text.at(position) == QLatin1Char('/');
    if (_endTag)
        ++position;
    _nameStart = position;
    while (position < size && !isSpace(text.at(position)) && text.at(position) != QLatin1Char('/')
           && text.at(position) != QLatin1Char('>'))
        ++position;
    _nameEnd = position;
    while (position < size) {
        const QChar character = text.at(position);
        if (isSpace(character)) {
            ++position;
        } else if (character == QLatin1Char('/')) {
            // A slash ends the tag when ">" follows; elsewhere it only separates attributes.
            ++position;
            if (position < size && text.at(position) == QLatin1Char('>'))
                _selfClosing = true;
        } else if (character == QLatin1Char('>')) {
            _terminated = true;
            _end = position + 1;
            return;
        } else {
            _selfClosing = false;
            position = readAttribute(position);
        }
    }
    _end = size;
}

// Reads the attribute whose name starts at position (its first character may be "=" or a
// quote: a browser takes those into the name); returns where the next one may start, or the
// size of the text when a quoted value never closes.
int HtmlTag::readAttribute(int position)
{
    const QString& text = *_text;
    const int size = text.size();
    Attribute attribute;
    attribute.nameStart = position++;
    while (position < size) {
        const QChar character = text.at(position);
        if (isSpace(character) || character == QLatin1Char('/') || character == QLatin1Char('>')
            || character == QLatin1Char('='))
            break;
        ++position;
    }
    attribute.nameEnd = attribute.end = position;
    int equals = position;
    while (equals < size && isSpace(text.at(equals)))
        ++equals;
    if (equals >= size || text.at(equals) != QLatin1Char('=')) {
        _attributes.append(attribute);
        return position;
    }
    position = equals + 1;
    while (position < size && isSpace(text.at(position)))
        ++position;
    if (position >= size)
        return size;
    const QChar first = text.at(position);
    if (first == QLatin1Char('"') || first == QLatin1Char('\'')) {
        const int close = text.indexOf(first, position + 1);
        if (close < 0)
            return size;
        attribute.quote = first;
        attribute.valueStart = position + 1;
        attribute.valueEnd = close;
        attribute.end = close + 1;
    } else {
        attribute.valueStart = position;
        while (position < size && !isSpace(text.at(position)) && text.at(position) != QLatin1Char('>'))
            ++position;
        attribute.valueEnd = attribute.end = position;
    }
    _attributes.append(attribute);
    return attribute.end;
}

QStringRef HtmlTag::name() const
{
    return _text->midRef(_nameStart, _nameEnd - _nameStart);
}

bool HtmlTag::nameIs(QLatin1String name) const
{
    return sameName(_text->constData() + _nameStart, _nameEnd - _nameStart, name);
}

QStringRef HtmlTag::attributeName(const Attribute& attribute) const
{
    return _text->midRef(attribute.nameStart, attribute.nameEnd - attribute.nameStart);
}

bool HtmlTag::attributeNameIs(const Attribute& attribute, QLatin1String name) const
{
    return sameName(_text->constData() + attribute.nameStart, attribute.nameEnd - attribute.nameStart, name);
}

QStringRef HtmlTag::rawValue(const Attribute& attribute) const
{
    if (!attribute.hasValue())
        return QStringRef();
    return _text->midRef(attribute.valueStart, attribute.valueEnd - attribute.valueStart);
}

const HtmlTag::Attribute* HtmlTag::attribute(QLatin1String name) const
{
    for (const Attribute& attribute : _attributes) {
        if (attributeNameIs(attribute, name))
            return &attribute;
    }
    return nullptr;
}
