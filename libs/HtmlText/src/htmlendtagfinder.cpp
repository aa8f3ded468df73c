#include "htmlendtagfinder.h"

#include "htmltag.h"

HtmlEndTagFinder::HtmlEndTagFinder(const QString& text, QLatin1String name)
    : _text(text)
    , _opening(QLatin1String("</") + name)
{
}

int HtmlEndTagFinder::from(int position)
{
    if (!_searched || (_found >= 0 && _found < position)) {
        _found = search(position);
        _searched = true;
    }
    return _found;
}

int HtmlEndTagFinder::search(int position) const
{
    for (int found = _text.indexOf(_opening, position, Qt::CaseInsensitive); found >= 0;
         found = _text.indexOf(_opening, found + 1, Qt::CaseInsensitive)) {
        const int after = found + _opening.size();
        if (after == _text.size() || HtmlTag::isSpace(_text.at(after)) || _text.at(after) == QLatin1Char('/')
            || _text.at(after) == QLatin1Char('>'))
            return found;
    }
    return -1;
}
