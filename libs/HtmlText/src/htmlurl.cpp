#include "htmlurl.h"

#include <algorithm>

namespace {

bool isControlOrSpace(QChar character)
{
    return character.unicode() <= 0x20;
}

bool isTabOrNewline(QChar character)
{
    const ushort code = character.unicode();
    return code == '\t' || code == '\n' || code == '\r';
}

bool isAsciiLetter(ushort code)
{
    return (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z');
}

bool isSchemeCharacter(ushort code)
{
    return isAsciiLetter(code) || (code >= '0' && code <= '9') || code == '+' || code == '-' || code == '.';
}

} // namespace

QString HtmlUrl::normalised(const QString& value)
{
    int start = 0;
    int end = value.size();
    while (start < end && isControlOrSpace(value.at(start)))
        ++start;
    while (end > start && isControlOrSpace(value.at(end - 1)))
        --end;
    if (start == 0 && end == value.size() && std::none_of(value.cbegin(), value.cend(), isTabOrNewline))
        return value;
    QString url;
    url.reserve(end - start);
    for (int index = start; index < end; ++index) {
        if (!isTabOrNewline(value.at(index)))
            url += value.at(index);
    }
    return url;
}

int HtmlUrl::schemeLength(QStringView normalisedUrl)
{
    if (normalisedUrl.isEmpty() || !isAsciiLetter(normalisedUrl.at(0).unicode()))
        return 0;
    for (int index = 1; index < normalisedUrl.size(); ++index) {
        const ushort code = normalisedUrl.at(index).unicode();
        if (code == ':')
            return index;
        if (!isSchemeCharacter(code))
            return 0;
    }
    return 0;
}

QString HtmlUrl::scheme(const QString& normalisedUrl)
{
    return normalisedUrl.left(schemeLength(normalisedUrl)).toLower();
}

bool HtmlUrl::hasScheme(QStringView normalisedUrl, QLatin1String scheme)
{
    const int length = schemeLength(normalisedUrl);
    return length == scheme.size() && normalisedUrl.left(length).compare(scheme, Qt::CaseInsensitive) == 0;
}
