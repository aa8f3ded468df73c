#include "feedmarkupcleaner.h"

#include "feedtexteditor.h"
#include "htmlcommentreader.h"
#include "htmlendtagfinder.h"
#include "htmlentities.h"
#include "htmltag.h"
#include "htmlurl.h"

#include <QUrl>

#include <algorithm>

namespace {

// Elements that re-point the page's links or embed active content of their own.
const QLatin1String removedElements[] = {
    QLatin1String("base"),  QLatin1String("object"),   QLatin1String("embed"),  QLatin1String("applet"),
    QLatin1String("frame"), QLatin1String("frameset"), QLatin1String("portal"),
};

const QLatin1String urlAttributes[] = {
    QLatin1String("href"),       QLatin1String("src"),      QLatin1String("action"),
    QLatin1String("formaction"), QLatin1String("xlink:href"), QLatin1String("poster"),
    QLatin1String("background"), QLatin1String("data"),     QLatin1String("codebase"),
    QLatin1String("cite"),       QLatin1String("longdesc"), QLatin1String("lowsrc"),
    QLatin1String("dynsrc"),     QLatin1String("from"),     QLatin1String("to"),
    QLatin1String("by"),
};

const QLatin1String embeddedImageTypes[] = {
    QLatin1String("image/png"), QLatin1String("image/gif"), QLatin1String("image/jpeg"), QLatin1String("image/webp"),
};

template<size_t count>
bool tagNameIn(const HtmlTag& tag, const QLatin1String (&names)[count])
{
    return std::any_of(names, names + count, [&tag](QLatin1String name) { return tag.nameIs(name); });
}

// Whether the tag may be one that the walk does more with than check its attributes; many
// (div, td, li, em, ul, h1...) are told apart by their first letter alone.
bool mayBeSpecial(const HtmlTag& tag)
{
    const ushort first = tag.name().at(0).toLower().unicode();
    return first == 'a' || first == 'b' || first == 'e' || first == 'f' || first == 'i' || first == 'o'
           || first == 'p' || first == 's';
}

template<size_t count>
bool attributeNameIn(const HtmlTag& tag, const HtmlTag::Attribute& attribute, const QLatin1String (&names)[count])
{
    return std::any_of(names, names + count,
                       [&](QLatin1String name) { return tag.attributeNameIs(attribute, name); });
}

QString decodedValue(const HtmlTag& tag, const HtmlTag::Attribute& attribute)
{
    return HtmlEntities::decode(tag.rawValue(attribute), HtmlEntities::Attribute);
}

bool isWebPage(const QString& url)
{
    return HtmlUrl::hasScheme(url, QLatin1String("http")) || HtmlUrl::hasScheme(url, QLatin1String("https"));
}

bool isEmbeddedImage(QStringView url)
{
    if (!HtmlUrl::hasScheme(url, QLatin1String("data")))
        return false;
    int end = 5;
    while (end < url.size() && url.at(end) != QLatin1Char(';') && url.at(end) != QLatin1Char(','))
        ++end;
    return FeedMarkupCleaner::isEmbeddableImageType(url.mid(5, end - 5).trimmed().toString());
}

// Each URL of a list is judged alone: a source set's candidates (split at blanks and commas,
// which also cuts off their descriptors) or an animation's values (split at ";").
template<typename IsSeparator>
bool areSafeUrls(const QString& list, IsSeparator isSeparator)
{
    int start = 0;
    for (int index = 0; index <= list.size(); ++index) {
        if (index < list.size() && !isSeparator(list.at(index)))
            continue;
        if (!FeedMarkupCleaner::isSafeUrl(HtmlUrl::normalised(list.mid(start, index - start))))
            return false;
        start = index + 1;
    }
    return true;
}

// Most values hold no reference and no control or blank: read as they are.
bool isPlainValue(const QStringRef& value)
{
    return std::none_of(value.cbegin(), value.cend(),
                        [](QChar c) { return c.unicode() <= 0x20 || c == QLatin1Char('&'); });
}

bool isSafeUrlValue(const HtmlTag& tag, const HtmlTag::Attribute& attribute)
{
    if (tag.attributeNameIs(attribute, QLatin1String("srcset")))
        return areSafeUrls(decodedValue(tag, attribute),
                           [](QChar c) { return HtmlTag::isSpace(c) || c == QLatin1Char(','); });
    if (tag.attributeNameIs(attribute, QLatin1String("values")))
        return areSafeUrls(decodedValue(tag, attribute), [](QChar c) { return c == QLatin1Char(';'); });
    if (!attributeNameIn(tag, attribute, urlAttributes))
        return true;
    const QStringRef raw = tag.rawValue(attribute);
    const bool plain = isPlainValue(raw);
    const QString normalised = plain ? QString() : HtmlUrl::normalised(decodedValue(tag, attribute));
    const QStringView url = plain ? QStringView(raw) : QStringView(normalised);
    if (tag.nameIs(QLatin1String("img")) && tag.attributeNameIs(attribute, QLatin1String("src")) && isEmbeddedImage(url))
        return true;
    return FeedMarkupCleaner::isSafeUrl(url);
}

bool isUnsafe(const HtmlTag& tag, const HtmlTag::Attribute& attribute)
{
    const QStringRef name = tag.attributeName(attribute);
    // A name that begins with "=" is junk; kept, it would become the value of the name before
    // it once the attribute between them is gone.
    if (name.startsWith(QLatin1String("on"), Qt::CaseInsensitive) || name.startsWith(QLatin1Char('='))
        || tag.attributeNameIs(attribute, QLatin1String("srcdoc"))
        // A refresh or a cookie set by a message would act on the page that shows it.
        || tag.attributeNameIs(attribute, QLatin1String("http-equiv")))
        return true;
    if (!attribute.hasValue())
        return false;
    // An animation that sets an event handler sets a script.
    if (tag.attributeNameIs(attribute, QLatin1String("attributename")))
        return decodedValue(tag, attribute).trimmed().startsWith(QLatin1String("on"), Qt::CaseInsensitive);
    return !isSafeUrlValue(tag, attribute);
}

class Walk
{
public:
    Walk(const QString& text, const QString& baseUrl)
        : _text(text)
        , _baseUrl(baseUrl)
        , _editor(text)
        , _comments(text)
        , _scriptEnds(text, QLatin1String("script"))
        , _styleEnds(text, QLatin1String("style"))
    {
    }

    QString run();

private:
    int handleTag(const HtmlTag& tag, bool bracketInside);
    int removeRawElement(const HtmlTag& tag, HtmlEndTagFinder& ends);
    int handleFrame(const HtmlTag& tag, bool bracketInside);
    int cleanTag(const HtmlTag& tag, bool bracketInside, const HtmlTag::Attribute* rewritten = nullptr,
                 const QString& value = QString());
    int removeTag(const HtmlTag& tag);

    const QString& _text;
    const QString& _baseUrl;
    FeedTextEditor _editor;
    HtmlCommentReader _comments;
    HtmlEndTagFinder _scriptEnds;
    HtmlEndTagFinder _styleEnds;
};

QString Walk::run()
{
    int position = _text.indexOf(QLatin1Char('<'));
    while (position >= 0) {
        int next = position + 1;
        // Found once: it tells whether a tag holds a "<", and most often where the next one is.
        const int following = next < _text.size() ? _text.indexOf(QLatin1Char('<'), next) : -1;
        if (HtmlTag::startsAt(_text, position)) {
            const HtmlTag tag(_text, position);
            if (!tag.isTerminated()) {
                // It runs to the end of the text, so nothing after it is markup either.
                _editor.escapeBrackets(position, _text.size());
                break;
            }
            next = handleTag(tag, following >= 0 && following < tag.end());
        } else if (HtmlCommentReader::startsAt(_text, position)) {
            const int end = _comments.end(position);
            if (end < 0) {
                // Never closed: shown as text, and what follows is read as markup.
                _editor.replace(position, next, QStringLiteral("&lt;"));
            } else {
                _editor.escapeBrackets(position + 1, end);
                next = end;
            }
        } else if (next < _text.size() && _text.at(next) == QLatin1Char('<')) {
            // Once the markup after it is gone, this "<" would open a tag.
            _editor.replace(position, next, QStringLiteral("&lt;"));
        }
        if (following < 0 || following >= next)
            position = following;
        else
            position = next < _text.size() ? _text.indexOf(QLatin1Char('<'), next) : -1;
    }
    return _editor.result();
}

int Walk::handleTag(const HtmlTag& tag, bool bracketInside)
{
    if (!mayBeSpecial(tag)) {
        if (tag.isEndTag()) {
            if (bracketInside)
                _editor.escapeBrackets(tag.start() + 1, tag.end());
            return tag.end();
        }
        return cleanTag(tag, bracketInside);
    }
    if (tagNameIn(tag, removedElements))
        return removeTag(tag);
    if (tag.isEndTag()) {
        if (bracketInside)
            _editor.escapeBrackets(tag.start() + 1, tag.end());
        return tag.end();
    }
    if (tag.nameIs(QLatin1String("script")))
        return removeRawElement(tag, _scriptEnds);
    if (tag.nameIs(QLatin1String("style")))
        return removeRawElement(tag, _styleEnds);
    if (tag.nameIs(QLatin1String("iframe")))
        return handleFrame(tag, bracketInside);
    return cleanTag(tag, bracketInside);
}

int Walk::removeRawElement(const HtmlTag& tag, HtmlEndTagFinder& ends)
{
    const int close = tag.isSelfClosing() ? -1 : ends.from(tag.end());
    if (close < 0)
        return removeTag(tag);
    const HtmlTag endTag(_text, close);
    if (!endTag.isTerminated())
        return removeTag(tag);
    _editor.remove(tag.start(), endTag.end());
    return endTag.end();
}

// Video players are what users expect to keep; a frame of any other kind goes.
int Walk::handleFrame(const HtmlTag& tag, bool bracketInside)
{
    const HtmlTag::Attribute* source = tag.attribute(QLatin1String("src"));
    const QString url = source && source->hasValue() ? HtmlUrl::normalised(decodedValue(tag, *source)) : QString();
    if (isWebPage(url))
        return cleanTag(tag, bracketInside);
    if (url.isEmpty() || HtmlUrl::schemeLength(url) > 0 || _baseUrl.isEmpty())
        return removeTag(tag);
    // Relative to the page that shows the message it could show a local file.
    const QString absolute = QUrl(_baseUrl).resolved(QUrl(url)).toString();
    return isWebPage(absolute) ? cleanTag(tag, bracketInside, source, absolute) : removeTag(tag);
}

int Walk::cleanTag(const HtmlTag& tag, bool bracketInside, const HtmlTag::Attribute* rewritten, const QString& value)
{
    const auto escapeBrackets = [&](int start, int end) {
        if (bracketInside)
            _editor.escapeBrackets(start, end);
    };
    int from = tag.start() + 1;
    for (const HtmlTag::Attribute& attribute : tag.attributes()) {
        if (&attribute == rewritten) {
            escapeBrackets(from, attribute.valueStart);
            _editor.replaceValue(attribute, value);
            from = attribute.valueEnd;
        } else if (isUnsafe(tag, attribute)) {
            escapeBrackets(from, attribute.nameStart);
            _editor.remove(attribute.nameStart, attribute.end);
            from = attribute.end;
        }
    }
    escapeBrackets(from, tag.end());
    return tag.end();
}

int Walk::removeTag(const HtmlTag& tag)
{
    _editor.remove(tag.start(), tag.end());
    return tag.end();
}

} // namespace

QString FeedMarkupCleaner::clean(const QString& text, const QString& baseUrl)
{
    return Walk(text, baseUrl).run();
}

// Images in the description itself are written to files by the formatter; only the types
// that cannot carry a script of their own are taken.
bool FeedMarkupCleaner::isEmbeddableImageType(const QString& mimeType)
{
    return std::any_of(std::begin(embeddedImageTypes), std::end(embeddedImageTypes),
                       [&mimeType](QLatin1String known) { return mimeType.compare(known, Qt::CaseInsensitive) == 0; });
}

bool FeedMarkupCleaner::isSafeUrl(QStringView url)
{
    return HtmlUrl::schemeLength(url) == 0 || HtmlUrl::hasScheme(url, QLatin1String("http"))
           || HtmlUrl::hasScheme(url, QLatin1String("https")) || HtmlUrl::hasScheme(url, QLatin1String("mailto"));
}
