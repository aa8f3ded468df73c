#include "htmlcommentreader.h"

namespace {

bool isAsciiLetter(QChar character)
{
    const ushort code = character.unicode();
    return (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z');
}

} // namespace

int HtmlCommentReader::Search::from(int position)
{
    if (_searched && (_found < 0 || _found >= position))
        return _found;
    _found = _text.indexOf(_needle, position);
    _searched = true;
    return _found;
}

HtmlCommentReader::HtmlCommentReader(const QString& text)
    : _text(text)
    , _closing(text, QLatin1String("-->"))
    , _bangClosing(text, QLatin1String("--!>"))
    , _bracket(text, QLatin1String(">"))
{
}

bool HtmlCommentReader::startsAt(const QString& text, int position)
{
    if (position + 1 >= text.size() || text.at(position) != QLatin1Char('<'))
        return false;
    const QChar next = text.at(position + 1);
    if (next == QLatin1Char('!') || next == QLatin1Char('?'))
        return true;
    return next == QLatin1Char('/') && position + 2 < text.size() && !isAsciiLetter(text.at(position + 2));
}

int HtmlCommentReader::end(int start)
{
    const QStringRef rest = _text.midRef(start);
    if (!rest.startsWith(QLatin1String("<!--"))) {
        if (rest.startsWith(QLatin1String("</>")))
            return start + 3;
        const int bracket = _bracket.from(start + 2);
        return bracket < 0 ? -1 : bracket + 1;
    }
    if (rest.mid(4).startsWith(QLatin1Char('>')))
        return start + 5;
    if (rest.mid(4).startsWith(QLatin1String("->")))
        return start + 6;
    const int dashes = _closing.from(start + 4);
    const int bang = _bangClosing.from(start + 4);
    if (dashes < 0)
        return bang < 0 ? -1 : bang + 4;
    return bang < 0 || dashes < bang ? dashes + 3 : bang + 4;
}
