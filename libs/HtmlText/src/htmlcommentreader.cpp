#include "htmlcommentreader.h"

namespace {

bool isAsciiLetter(QChar character)
{
    const ushort code = character.unicode();
    return (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z');
}

} // namespace

HtmlCommentReader::HtmlCommentReader(const QString& text)
    : _text(text)
{
}

// One search for both closings: a search for the rare "--!>" alone would go to the end of
// the text for every text.
int HtmlCommentReader::closingEnd(int position)
{
    if (_closingEnd == -1 || (_closingEnd >= 0 && _closingStart >= position))
        return _closingEnd;
    _closingEnd = -1;
    for (int dashes = _text.indexOf(QLatin1String("--"), position); dashes >= 0;
         dashes = _text.indexOf(QLatin1String("--"), dashes + 1)) {
        const QStringRef after = _text.midRef(dashes + 2, 2);
        if (after.startsWith(QLatin1Char('>')) || after == QLatin1String("!>")) {
            _closingStart = dashes;
            _closingEnd = dashes + 2 + (after.startsWith(QLatin1Char('>')) ? 1 : 2);
            break;
        }
    }
    return _closingEnd;
}

int HtmlCommentReader::bracketAfter(int position)
{
    if (_bracket == -1 || _bracket >= position)
        return _bracket;
    _bracket = _text.indexOf(QLatin1Char('>'), position);
    return _bracket;
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
        const int bracket = bracketAfter(start + 2);
        return bracket < 0 ? -1 : bracket + 1;
    }
    if (rest.mid(4).startsWith(QLatin1Char('>')))
        return start + 5;
    if (rest.mid(4).startsWith(QLatin1String("->")))
        return start + 6;
    return closingEnd(start + 4);
}
