#include "feedformatter.h"

#include "contentinfo.h"
#include "feedfilenamegenerator.h"
#include "feedlog.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QVector>

namespace {

const QString dataScheme = QStringLiteral("data:");
const QString base64Marker = QStringLiteral(";base64,");
const QString imageType = QStringLiteral("image/");
// Larger embedded images are not written: one message must not be able to fill the disk.
const int maximumEmbeddedBytes = 10 * 1024 * 1024;
const int loggedDescriptionLength = 1000;

// Compiled once for the process. The white space of HTML is the class [\t\n\f\r ].
QRegularExpression compiled(const char* pattern, bool caseInsensitive = false)
{
    QRegularExpression expression(QString::fromLatin1(pattern),
                                  caseInsensitive ? QRegularExpression::CaseInsensitiveOption
                                                  : QRegularExpression::NoPatternOption);
    expression.optimize();
    return expression;
}

const QRegularExpression& tagNamePattern()
{
    static const QRegularExpression pattern = compiled("<([A-Za-z][^\\t\\n\\f\\r />]*+)");
    return pattern;
}

// One attribute as the HTML tokenizer reads it: a value ends at its own closing quote, an
// unquoted one at white space or ">". Captures: 1 name, 2 and 3 a double-quoted value and
// its closing quote, 4 and 5 the same for an apostrophe, 6 an unquoted value.
const QRegularExpression& attributePattern()
{
    static const QRegularExpression pattern = compiled(
        "[\\t\\n\\f\\r /]*+([^\\t\\n\\f\\r />][^\\t\\n\\f\\r />=]*+)"
        "(?:[\\t\\n\\f\\r ]*+=[\\t\\n\\f\\r ]*+"
        "(?:\"([^\"]*+)(\"?)|'([^']*+)('?)|([^\\t\\n\\f\\r >]*+)))?");
    return pattern;
}

const QRegularExpression& tagEndPattern()
{
    static const QRegularExpression pattern = compiled("[\\t\\n\\f\\r /]*+>");
    return pattern;
}

const QRegularExpression& scriptEndPattern()
{
    static const QRegularExpression pattern =
        compiled("</script(?=[\\t\\n\\f\\r />]|\\z)[^>]*+>?", true);
    return pattern;
}

const QRegularExpression& styleEndPattern()
{
    static const QRegularExpression pattern =
        compiled("</style(?=[\\t\\n\\f\\r />]|\\z)[^>]*+>?", true);
    return pattern;
}

const QRegularExpression& anchorTagPattern()
{
    static const QRegularExpression pattern = compiled("<a(?=[\\t\\n\\f\\r />])", true);
    return pattern;
}

const QRegularExpression& imageTagPattern()
{
    static const QRegularExpression pattern = compiled("<img(?=[\\t\\n\\f\\r />])", true);
    return pattern;
}

const QRegularExpression& entityPattern()
{
    static const QRegularExpression pattern = compiled(
        "&#(?:([0-9]++)|[xX]([0-9A-Fa-f]++));?|&(amp|lt|gt|quot|apos|nbsp|Tab|NewLine|colon);");
    return pattern;
}

struct HtmlAttribute
{
    int nameStart = 0;
    int nameEnd = 0;
    int valueStart = -1; // the raw value without its quotes; -1 when there is none
    int valueEnd = -1;
    QChar quote;         // null for an unquoted value
    int end = 0;         // after the closing quote

    bool hasValue() const { return valueStart >= 0; }
};

struct HtmlTag
{
    int nameStart = 0;
    int nameEnd = 0;
    bool terminated = false;
    int end = 0;
    QVector<HtmlAttribute> attributes;
};

// Checking the whole subject at every match would make a walk over a long text quadratic;
// every text is made valid UTF-16 once instead (validText).
QRegularExpressionMatch matchAt(const QRegularExpression& pattern, const QString& text, int position)
{
    return pattern.match(text, position, QRegularExpression::NormalMatch,
                         QRegularExpression::AnchoredMatchOption
                             | QRegularExpression::DontCheckSubjectStringMatchOption);
}

QRegularExpressionMatch search(const QRegularExpression& pattern, const QString& text, int position)
{
    return pattern.match(text, position, QRegularExpression::NormalMatch,
                         QRegularExpression::DontCheckSubjectStringMatchOption);
}

// A broken surrogate becomes U+FFFD, so that the expressions may skip their own check.
QString validText(QString text)
{
    for (int index = 0; index < text.size(); ++index) {
        const QChar character = text.at(index);
        if (character.isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate())
            ++index;
        else if (character.isSurrogate())
            text[index] = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

// Reads the tag at start ("<" and a letter) as a browser does; a tag that runs into the end
// of the text is not terminated.
HtmlTag parseTag(const QString& text, int start)
{
    HtmlTag tag;
    const QRegularExpressionMatch name = matchAt(tagNamePattern(), text, start);
    tag.nameStart = name.capturedStart(1);
    tag.nameEnd = name.capturedEnd(1);
    int position = tag.nameEnd;
    for (;;) {
        const QRegularExpressionMatch match = matchAt(attributePattern(), text, position);
        if (!match.hasMatch())
            break;
        HtmlAttribute attribute;
        attribute.nameStart = match.capturedStart(1);
        attribute.nameEnd = match.capturedEnd(1);
        for (const int group : {2, 4}) {
            if (match.capturedStart(group) < 0)
                continue;
            if (match.capturedLength(group + 1) == 0) {
                // An unclosed quote runs to the end of the text, and the tag with it.
                tag.end = text.size();
                return tag;
            }
            attribute.quote = text.at(match.capturedStart(group) - 1);
            attribute.valueStart = match.capturedStart(group);
            attribute.valueEnd = match.capturedEnd(group);
        }
        if (match.capturedStart(6) >= 0) {
            attribute.valueStart = match.capturedStart(6);
            attribute.valueEnd = match.capturedEnd(6);
        }
        attribute.end = match.capturedEnd();
        tag.attributes.append(attribute);
        position = attribute.end;
    }
    const QRegularExpressionMatch end = matchAt(tagEndPattern(), text, position);
    tag.terminated = end.hasMatch();
    tag.end = tag.terminated ? end.capturedEnd() : text.size();
    return tag;
}

bool nameIs(const QString& text, int start, int end, QLatin1String name)
{
    return text.midRef(start, end - start).compare(name, Qt::CaseInsensitive) == 0;
}

const HtmlAttribute* findAttribute(const QString& text, const HtmlTag& tag, QLatin1String name)
{
    for (const HtmlAttribute& attribute : tag.attributes) {
        if (nameIs(text, attribute.nameStart, attribute.nameEnd, name))
            return &attribute;
    }
    return nullptr;
}

QString entityText(const QRegularExpressionMatch& match)
{
    static const QMap<QString, QString> named = {
        {QStringLiteral("amp"), QStringLiteral("&")},      {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},       {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")},     {QStringLiteral("nbsp"), QString(QChar(0xA0))},
        {QStringLiteral("Tab"), QStringLiteral("\t")},     {QStringLiteral("NewLine"), QStringLiteral("\n")},
        {QStringLiteral("colon"), QStringLiteral(":")},
    };
    if (match.capturedStart(3) >= 0)
        return named.value(match.captured(3));
    bool ok = false;
    uint code = match.capturedStart(1) >= 0 ? match.capturedRef(1).toUInt(&ok, 10)
                                            : match.capturedRef(2).toUInt(&ok, 16);
    if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    return QString::fromUcs4(&code, 1);
}

// Attribute values carry character references; a URL is used as the browser reads it.
QString decodeEntities(const QString& value)
{
    if (!value.contains(QLatin1Char('&')))
        return value;
    QString decoded;
    int copied = 0;
    QRegularExpressionMatchIterator matches = entityPattern().globalMatch(value);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        decoded += value.midRef(copied, match.capturedStart() - copied);
        decoded += entityText(match);
        copied = match.capturedEnd();
    }
    decoded += value.midRef(copied);
    return decoded;
}

QString escapeAttribute(QString value, QChar quote)
{
    value.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    value.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    value.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    if (quote == QLatin1Char('\''))
        return value.replace(QLatin1Char('\''), QLatin1String("&#39;"));
    return value.replace(QLatin1Char('"'), QLatin1String("&quot;"));
}

QString attributeValue(const QString& text, const HtmlAttribute& attribute)
{
    return decodeEntities(text.mid(attribute.valueStart, attribute.valueEnd - attribute.valueStart));
}

// Browsers ignore blanks around a URL.
QString urlValue(const QString& text, const HtmlAttribute* attribute)
{
    return attribute->hasValue() ? attributeValue(text, *attribute).trimmed() : QString();
}

// The value as written into the attribute; an unquoted one is quoted, since the new value
// may hold blanks.
QString writtenValue(const HtmlAttribute& attribute, const QString& value)
{
    const QString written = escapeAttribute(value, attribute.quote);
    return attribute.quote.isNull() ? QLatin1Char('"') + written + QLatin1Char('"') : written;
}

// Builds an edited copy of a text from edits in increasing position, in linear time.
class TextEditor
{
public:
    explicit TextEditor(const QString& text) : _text(text) {}

    void replace(int start, int end, const QString& replacement)
    {
        _result += _text.midRef(_copied, start - _copied);
        _result += replacement;
        _copied = end;
        _edited = true;
    }

    void replaceValue(const HtmlAttribute& attribute, const QString& value)
    {
        replace(attribute.valueStart, attribute.valueEnd, writtenValue(attribute, value));
    }

    bool edited() const { return _edited; }

    QString result()
    {
        if (!edited())
            return _text;
        _result += _text.midRef(_copied);
        return _result;
    }

private:
    const QString& _text;
    QString _result;
    int _copied = 0;
    bool _edited = false;
};

// Browsers drop blanks and control characters anywhere in a URL's scheme and ignore case.
bool isScriptUrl(const QString& value)
{
    QString compact;
    for (const QChar character : value) {
        if (character.unicode() > 0x20)
            compact += character.toLower();
        if (compact.size() >= 11)
            break;
    }
    return compact.startsWith(QLatin1String("javascript:")) || compact.startsWith(QLatin1String("vbscript:"));
}

bool isUrlAttribute(const QStringRef& name)
{
    static const QStringList names = {
        QStringLiteral("href"),   QStringLiteral("src"),        QStringLiteral("xlink:href"),
        QStringLiteral("action"), QStringLiteral("formaction"), QStringLiteral("data"),
        QStringLiteral("background"), QStringLiteral("poster"), QStringLiteral("lowsrc"),
        QStringLiteral("dynsrc"), QStringLiteral("codebase"),   QStringLiteral("cite"),
        QStringLiteral("longdesc"), QStringLiteral("to"),       QStringLiteral("from"),
        QStringLiteral("by"),     QStringLiteral("values"),
    };
    for (const QString& known : names) {
        if (name.compare(known, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Data carried in the description itself is only ever shown as an image: as a frame, an
// object or a link target it could be a page of its own with its own scripts.
bool isDataUrl(const QString& value)
{
    return value.trimmed().startsWith(dataScheme, Qt::CaseInsensitive);
}

bool isUnsafe(const QString& text, const HtmlTag& tag, const HtmlAttribute& attribute)
{
    const QStringRef name = text.midRef(attribute.nameStart, attribute.nameEnd - attribute.nameStart);
    // A name that begins with "=" is junk; kept, it would become the value of the name before
    // it once the attribute between them is gone.
    if (name.startsWith(QLatin1String("on"), Qt::CaseInsensitive) || name.startsWith(QLatin1Char('='))
        || name.compare(QLatin1String("srcdoc"), Qt::CaseInsensitive) == 0
        // A refresh or a cookie set by a message would act on the page that shows it.
        || name.compare(QLatin1String("http-equiv"), Qt::CaseInsensitive) == 0)
        return true;
    if (!attribute.hasValue())
        return false;
    // An animation that sets an event handler sets a script.
    if (name.compare(QLatin1String("attributename"), Qt::CaseInsensitive) == 0)
        return attributeValue(text, attribute).trimmed().startsWith(QLatin1String("on"), Qt::CaseInsensitive);
    if (!isUrlAttribute(name))
        return false;
    const QString value = attributeValue(text, attribute);
    const bool imageSource = nameIs(text, tag.nameStart, tag.nameEnd, QLatin1String("img"))
                             && name.compare(QLatin1String("src"), Qt::CaseInsensitive) == 0;
    if (!imageSource && isDataUrl(value))
        return true;
    // An animation walks through a list of values, any of which may be a target.
    const QStringList values = value.split(QLatin1Char(';'));
    return std::any_of(values.cbegin(), values.cend(), isScriptUrl);
}

QString withEscapedBrackets(const QStringRef& text)
{
    return text.toString().replace(QLatin1Char('<'), QLatin1String("&lt;"));
}

// Finds a needle again and again while the start moves forward, in linear time overall.
class ForwardSearch
{
public:
    ForwardSearch(const QString& text, QLatin1String needle)
        : _text(text), _needle(needle) {}

    int from(int position)
    {
        if (_searched && (_found < 0 || _found >= position))
            return _found;
        _found = _text.indexOf(_needle, position);
        _searched = true;
        return _found;
    }

private:
    const QString& _text;
    QLatin1String _needle;
    bool _searched = false;
    int _found = -1;
};

// The end of the comment at start, as a browser reads it, or -1 when it is never closed.
int commentEnd(const QString& text, int start, ForwardSearch& closing, ForwardSearch& bangClosing)
{
    const QStringRef rest = text.midRef(start + 4);
    if (rest.startsWith(QLatin1Char('>')))
        return start + 5;
    if (rest.startsWith(QLatin1String("->")))
        return start + 6;
    const int dashes = closing.from(start + 4);
    const int bang = bangClosing.from(start + 4);
    if (dashes < 0)
        return bang < 0 ? -1 : bang + 4;
    return bang < 0 || dashes < bang ? dashes + 3 : bang + 4;
}

bool isAsciiLetter(QChar character)
{
    const ushort code = character.unicode();
    return (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z');
}

// One walk over the text in the browser's reading: each script and style element goes on its
// own, to the end of the text when it is not closed; each other tag loses its event handlers
// and script targets; a tag that never closes is shown as text. A "<" inside a tag or a
// comment is written as a character reference, so that no reading of the result can find
// a tag that this walk did not see. Returns whether anything changed.
bool neutraliseMarkup(QString& text)
{
    TextEditor editor(text);
    ForwardSearch closing(text, QLatin1String("-->"));
    ForwardSearch bangClosing(text, QLatin1String("--!>"));
    int position = text.indexOf(QLatin1Char('<'));
    while (position >= 0) {
        int next = position + 1;
        if (text.midRef(position, 4) == QLatin1String("<!--")) {
            const int end = commentEnd(text, position, closing, bangClosing);
            if (end > 0) {
                const QStringRef inner = text.midRef(position + 1, end - position - 1);
                if (inner.contains(QLatin1Char('<')))
                    editor.replace(position + 1, end, withEscapedBrackets(inner));
                next = end;
            }
        } else if (next < text.size() && text.at(next) == QLatin1Char('<')) {
            // Once the markup after it is gone, this "<" would open a tag of the next pass.
            editor.replace(position, next, QStringLiteral("&lt;"));
        } else if (next < text.size() && isAsciiLetter(text.at(next))) {
            const HtmlTag tag = parseTag(text, position);
            const bool element = nameIs(text, tag.nameStart, tag.nameEnd, QLatin1String("script"))
                                 || nameIs(text, tag.nameStart, tag.nameEnd, QLatin1String("style"));
            if (element) {
                int end = text.size();
                if (tag.terminated) {
                    const bool script = nameIs(text, tag.nameStart, tag.nameEnd, QLatin1String("script"));
                    const QRegularExpressionMatch close =
                        search(script ? scriptEndPattern() : styleEndPattern(), text, tag.end);
                    if (close.hasMatch())
                        end = close.capturedEnd();
                }
                editor.replace(position, end, QString());
                next = end;
            } else if (!tag.terminated) {
                // It runs to the end of the text, so nothing after it is markup either; read
                // once, or every later "<" would read the rest again.
                editor.replace(position, text.size(), withEscapedBrackets(text.midRef(position)));
                next = text.size();
            } else {
                QString cleaned;
                int from = position + 1;
                for (const HtmlAttribute& attribute : tag.attributes) {
                    if (!isUnsafe(text, tag, attribute))
                        continue;
                    cleaned += text.midRef(from, attribute.nameStart - from);
                    from = attribute.end;
                }
                cleaned += text.midRef(from, tag.end - from);
                if (cleaned.size() != tag.end - position - 1 || cleaned.contains(QLatin1Char('<')))
                    editor.replace(position + 1, tag.end, withEscapedBrackets(QStringRef(&cleaned)));
                next = tag.end;
            }
        }
        position = next < text.size() ? text.indexOf(QLatin1Char('<'), next) : -1;
    }
    if (!editor.edited())
        return false;
    text = editor.result();
    return true;
}

// Calls visit(tag) for every tag that pattern finds, in order, up to a tag that never closes.
template<typename Visit>
void forEachTag(const QString& text, const QRegularExpression& pattern, Visit visit)
{
    int position = 0;
    for (;;) {
        const QRegularExpressionMatch match = search(pattern, text, position);
        if (!match.hasMatch())
            return;
        const HtmlTag tag = parseTag(text, match.capturedStart());
        if (!tag.terminated)
            return;
        visit(tag);
        position = qMax(tag.end, match.capturedEnd());
    }
}

QString resolved(const QString& value, const QString& baseUrl)
{
    const QUrl url(value);
    if (!url.isRelative() || baseUrl.isEmpty())
        return value;
    const QString absolute = QUrl(baseUrl).resolved(url).toString();
    // A hostile base must not turn a harmless reference into a script or a page of its own.
    return isScriptUrl(absolute) || isDataUrl(absolute) ? value : absolute;
}

void takeContentType(FeedEnclosure& enclosure, const ContentInfo& info)
{
    if (!info.isValid())
        return;
    enclosure.setTypeIcon(info.typeIcon());
    enclosure.setMimeType(info.mimeType());
}

QString safeImageFormat(const QString& format)
{
    QString safe;
    for (const QChar character : format) {
        if (character.isLetterOrNumber() || character == QLatin1Char('.')
            || character == QLatin1Char('+') || character == QLatin1Char('-'))
            safe += character.toLower();
    }
    return safe;
}

bool holdsBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.size() != bytes.size() || !file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll() == bytes;
}

// Through a temporary file and a rename, so that a reader never sees half an image.
bool writeImage(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    FEED_LOG(warning, "Formatter") << "Failed to write image data:" << file.errorString();
    file.cancelWriting();
    return false;
}

struct EmbeddedImage
{
    QByteArray bytes; // empty when the value is no usable image
    QString format;
};

// The image of a data URL, as a browser would decode it.
EmbeddedImage decodeEmbeddedImage(const QString& value)
{
    const int marker = value.indexOf(base64Marker, 0, Qt::CaseInsensitive);
    if (marker < 0)
        return {};
    // Parameters such as charset are no part of the type.
    const QString mimeType = value.mid(dataScheme.size(), marker - dataScheme.size())
                                 .section(QLatin1Char(';'), 0, 0).trimmed();
    FEED_LOG(debug, "Formatter") << "Embedded mime type:" << mimeType;
    if (!mimeType.startsWith(imageType, Qt::CaseInsensitive))
        return {};
    const QString format = safeImageFormat(mimeType.mid(imageType.size()));
    FEED_LOG(debug, "Formatter") << "Embedded image format:" << format;

    const QStringRef payload = value.midRef(marker + base64Marker.size());
    // Base64 takes four characters for three bytes; blanks between them are allowed.
    if (payload.size() / 2 > maximumEmbeddedBytes) {
        FEED_LOG(warning, "Formatter") << "Embedded image too large:" << payload.size() << "characters";
        return {};
    }
    // As in a browser, the payload may be percent-encoded as well.
    const QByteArray bytes = QByteArray::fromBase64(QByteArray::fromPercentEncoding(payload.toLatin1()));
    if (bytes.size() > maximumEmbeddedBytes) {
        FEED_LOG(warning, "Formatter") << "Embedded image too large:" << bytes.size() << "bytes";
        return {};
    }
    if (bytes.isEmpty())
        FEED_LOG(warning, "Formatter") << "Failed to write image data:" << QStringLiteral("no data");
    return {bytes, format};
}

} // namespace

FeedFormatter::FeedFormatter() = default;

FeedFormatter::~FeedFormatter() = default;

QList<FeedMessage> FeedFormatter::formatMessages(const QList<FeedMessage>& messages)
{
    QList<FeedMessage> formatted;
    formatted.reserve(messages.size());
    for (const FeedMessage& message : messages)
        formatted.append(formatMessage(message));
    return formatted;
}

FeedMessage FeedFormatter::formatMessage(const FeedMessage& message)
{
    FeedMessage formatted(message);
    removeScriptsAndStyles(formatted);
    localizeOptionalEnclosures(formatted);
    localizeImages(formatted);
    resolveRelativeHyperlinks(formatted);
    formatImageDimensions(formatted);
    return formatted;
}

void FeedFormatter::removeScriptsAndStyles(FeedMessage& message)
{
    QString text = validText(message.description());
    // Removing markup can join what it separated; the walk repeats until the text is stable.
    while (neutraliseMarkup(text)) {
    }
    message.setDescription(text);
}

void FeedFormatter::localizeOptionalEnclosures(FeedMessage& message)
{
    const FeedFilenameGenerator generator;
    FEED_LOG(debug, "Formatter") << "Optional Enclosure List ";
    QList<FeedEnclosure> enclosures = message.enclosures();
    for (FeedEnclosure& enclosure : enclosures) {
        enclosure.setLocalUrl(generator.generateFileName(enclosure.remoteUrl()));
        FEED_LOG(debug, "Formatter") << "Remote Url: " << enclosure.remoteUrl() << "\nLocal Url: "
                                     << enclosure.localUrl();
        // The feed's own type wins: a name such as download.php?id=7 says nothing of the file.
        if (!enclosure.mimeType().isEmpty()) {
            const ContentInfo info = ContentInfo::forMime(enclosure.mimeType());
            if (info.isValid())
                enclosure.setTypeIcon(info.typeIcon());
        } else {
            takeContentType(enclosure, ContentInfo::forFile(QUrl::fromLocalFile(enclosure.localUrl())));
        }
    }
    message.setEnclosures(enclosures);
}

void FeedFormatter::localizeImages(FeedMessage& message)
{
    const QString text = validText(message.description());
    TextEditor editor(text);
    QList<FeedEnclosure> newImages;
    QSet<QString> enclosed;
    forEachTag(text, imageTagPattern(), [&](const HtmlTag& tag) {
        const HtmlAttribute* source = findAttribute(text, tag, QLatin1String("src"));
        if (!source)
            return;
        const QString value = urlValue(text, source);
        if (value.isEmpty()) {
            FEED_LOG(debug, "Formatter") << "Empty web URL.. skipping !";
            return;
        }
        const QString replacement = value.startsWith(dataScheme, Qt::CaseInsensitive)
                                        ? localizeEmbeddedImage(value, newImages, enclosed)
                                        : localizeRemoteImage(value, message.baseUrl(), newImages, enclosed);
        if (replacement != value)
            editor.replaceValue(*source, replacement);
    });
    message.setDescription(editor.result());
    message.addEnclosure(newImages);
}

QString FeedFormatter::localizeEmbeddedImage(const QString& source, QList<FeedEnclosure>& newImages,
                                             QSet<QString>& enclosed)
{
    FeedEnclosure enclosure = _embeddedImages.value(source);
    if (enclosure.localUrl().isEmpty()) {
        const EmbeddedImage image = decodeEmbeddedImage(source);
        if (image.bytes.isEmpty()) {
            FEED_LOG(debug, "Formatter") << "Couldn't parse embedded data, removing";
            return QString();
        }
        if (!storeEmbeddedImage(image.bytes, image.format, enclosure)) {
            // Not written (no enclosure directory, a full disk): kept inline rather than lost.
            FEED_LOG(debug, "Formatter") << "Embedded image not written, kept in the description";
            return source;
        }
        _embeddedImages.insert(source, enclosure);
    }
    FEED_LOG(debug, "Formatter") << "Embedded data extracted, replaced descr: " << enclosure.localUrl();
    if (!enclosed.contains(enclosure.remoteUrl())) {
        enclosed.insert(enclosure.remoteUrl());
        newImages.append(enclosure);
    }
    return enclosure.localUrl();
}

QString FeedFormatter::localizeRemoteImage(const QString& source, const QString& baseUrl,
                                           QList<FeedEnclosure>& newImages, QSet<QString>& enclosed)
{
    const QString absolute = resolved(source, baseUrl);
    const QUrl url(absolute);
    // Images are fetched over the web: without a scheme nothing can fetch one, and queued it
    // would be tried at every refresh; a file: source would copy a local file for any feed.
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        FEED_LOG(debug, "Formatter") << "Image url can not be fetched, not queued:" << absolute;
        return source;
    }
    auto cached = _imageCache.constFind(url);
    if (cached == _imageCache.constEnd()) {
        FeedEnclosure enclosure;
        enclosure.setRemoteUrl(absolute);
        enclosure.setLocalUrl(FeedFilenameGenerator().generateFileName(absolute));
        enclosure.setType(FeedEnclosure::Essential);
        enclosure.setLength(0);
        takeImageContentType(enclosure);
        cached = _imageCache.insert(url, enclosure);
    }
    // Every message that shows the image holds its enclosure.
    if (!enclosed.contains(cached->remoteUrl())) {
        enclosed.insert(cached->remoteUrl());
        newImages.append(*cached);
        FEED_LOG(debug, "Formatter") << " Queued img is : " << absolute << " replaced descr : "
                                     << cached->localUrl();
    }
    return cached->localUrl();
}

// An image is an image: a name such as show.php must not give it a script type. Looked up
// once per suffix, since the content-type service is slow next to the rest.
void FeedFormatter::takeImageContentType(FeedEnclosure& enclosure)
{
    const QString suffix = QFileInfo(enclosure.localUrl()).suffix().toLower();
    if (suffix.isEmpty())
        return;
    auto known = _imageTypes.constFind(suffix);
    if (known == _imageTypes.constEnd()) {
        const ContentInfo info = ContentInfo::forFile(QUrl::fromLocalFile(enclosure.localUrl()));
        const bool image = info.mimeType().startsWith(imageType);
        known = _imageTypes.insert(suffix, image ? qMakePair(info.mimeType(), info.typeIcon())
                                                 : qMakePair(QString(), QString()));
    }
    if (known->first.isEmpty())
        return;
    enclosure.setMimeType(known->first);
    enclosure.setTypeIcon(known->second);
}

void FeedFormatter::resolveRelativeHyperlinks(FeedMessage& message)
{
    const QString text = validText(message.description());
    TextEditor editor(text);
    forEachTag(text, anchorTagPattern(), [&](const HtmlTag& tag) {
        const HtmlAttribute* target = findAttribute(text, tag, QLatin1String("href"));
        if (!target)
            return;
        const QString value = urlValue(text, target);
        if (value.isEmpty()) {
            FEED_LOG(debug, "Formatter") << "Empty web URL.. skipping !";
            return;
        }
        const QString absolute = resolved(value, message.baseUrl());
        FEED_LOG(debug, "Formatter") << " Hyperlink Absolute Path :  " << absolute;
        if (absolute != value)
            editor.replaceValue(*target, absolute);
    });
    message.setDescription(editor.result());
}

bool FeedFormatter::stripPxFromAttributes(QString& value, int position)
{
    if (!value.endsWith(QLatin1String("px")))
        return false;
    FEED_LOG(debug, "Formatter") << "found px attr : " << value << "at : " << position;
    value.remove(QLatin1String("px"));
    return true;
}

void FeedFormatter::formatImageDimensions(FeedMessage& message)
{
    const QString text = validText(message.description());
    TextEditor editor(text);
    forEachTag(text, imageTagPattern(), [&](const HtmlTag& tag) {
        QVector<const HtmlAttribute*> sizes = {findAttribute(text, tag, QLatin1String("width")),
                                               findAttribute(text, tag, QLatin1String("height"))};
        sizes.removeAll(nullptr);
        std::sort(sizes.begin(), sizes.end(), [](const HtmlAttribute* a, const HtmlAttribute* b) {
            return a->valueStart < b->valueStart;
        });
        bool stripped = false;
        for (const HtmlAttribute* size : qAsConst(sizes)) {
            QString value = size->hasValue() ? attributeValue(text, *size) : QString();
            if (stripPxFromAttributes(value, size->valueStart)) {
                editor.replaceValue(*size, value);
                stripped = true;
            }
        }
        if (stripped)
            FEED_LOG(debug, "Formatter") << "Start from pos : " << tag.end;
    });
    const QString formatted = editor.result();
    // Escaping a whole long description for the log would cost more than formatting it.
    FEED_LOG(debug, "Formatter") << "Formatted description : " << formatted.left(loggedDescriptionLength)
                                 << "(" << formatted.size() << "characters )";
    message.setDescription(formatted);
}

bool FeedFormatter::parseEmbeddedData(const QString& value, FeedEnclosure& enclosure)
{
    const EmbeddedImage image = decodeEmbeddedImage(value);
    return !image.bytes.isEmpty() && storeEmbeddedImage(image.bytes, image.format, enclosure);
}

bool FeedFormatter::storeEmbeddedImage(const QByteArray& bytes, const QString& format, FeedEnclosure& enclosure)
{
    // Named by its content: two different images never share a file, one image is kept once.
    const QString digest = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    const QString madeUpUrl = QLatin1Char('/') + digest + (format.isEmpty() ? QString() : QLatin1Char('.') + format);
    const QString path = FeedFilenameGenerator().generateFileName(madeUpUrl);
    if (holdsBytes(path, bytes)) {
        FEED_LOG(debug, "Formatter") << "File already exists";
    } else {
        FEED_LOG(debug, "Formatter") << "Writing image to:" << path << "(size" << bytes.size() << ")";
        if (!writeImage(path, bytes))
            return false;
    }
    enclosure.setLocalUrl(path);
    enclosure.setRemoteUrl(path);
    enclosure.setType(FeedEnclosure::Essential);
    enclosure.setLength(static_cast<unsigned int>(bytes.size()));
    takeImageContentType(enclosure);
    return true;
}
