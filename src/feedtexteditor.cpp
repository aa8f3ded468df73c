#include "feedtexteditor.h"

FeedTextEditor::FeedTextEditor(const QString& text)
    : _text(text)
{
}

void FeedTextEditor::copyTo(int position)
{
    if (!_edited) {
        _result.reserve(_text.size() + _text.size() / 16);
        _edited = true;
    }
    if (position > _copied) {
        _result += _text.midRef(_copied, position - _copied);
        _copied = position;
    }
}

void FeedTextEditor::replace(int start, int end, const QString& replacement)
{
    copyTo(start);
    _result += replacement;
    _copied = end;
}

// The look stays within the range: a search to the end of the text for each of many small
// ranges would take time with the square of the text's length.
void FeedTextEditor::escapeBrackets(int start, int end)
{
    const QChar* characters = _text.constData();
    for (int index = start; index < end; ++index) {
        if (characters[index] != QLatin1Char('<'))
            continue;
        copyTo(index);
        _result += QLatin1String("&lt;");
        _copied = index + 1;
    }
}

void FeedTextEditor::replaceValue(const HtmlTag::Attribute& attribute, const QString& value)
{
    const QString written = escapedAttribute(value, attribute.quote);
    replace(attribute.valueStart, attribute.valueEnd,
            attribute.quote.isNull() ? QLatin1Char('"') + written + QLatin1Char('"') : written);
}

QString FeedTextEditor::result()
{
    if (!_edited)
        return _text;
    copyTo(_text.size());
    return _result;
}

QString FeedTextEditor::escapedAttribute(const QString& value, QChar quote)
{
    const QChar ownQuote = quote == QLatin1Char('\'') ? quote : QLatin1Char('"');
    QString escaped;
    escaped.reserve(value.size() + value.size() / 8);
    int copied = 0;
    for (int index = 0; index < value.size(); ++index) {
        const QChar character = value.at(index);
        QLatin1String reference;
        if (character == QLatin1Char('&'))
            reference = QLatin1String("&amp;");
        else if (character == QLatin1Char('<'))
            reference = QLatin1String("&lt;");
        else if (character == QLatin1Char('>'))
            reference = QLatin1String("&gt;");
        else if (character == ownQuote)
            reference = ownQuote == QLatin1Char('"') ? QLatin1String("&quot;") : QLatin1String("&#39;");
        else
            continue;
        escaped += value.midRef(copied, index - copied);
        escaped += reference;
        copied = index + 1;
    }
    escaped += value.midRef(copied);
    return escaped;
}
