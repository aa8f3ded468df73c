#include "feedformatter.h"

#include "contentinfo.h"
#include "feedfilenamegenerator.h"
#include "feedlog.h"
#include "feedmarkupcleaner.h"
#include "feedtexteditor.h"
#include "feedtrackersparql.h"
#include "htmlentities.h"
#include "htmltag.h"
#include "htmlurl.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QPair>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace {

const QString dataScheme = QStringLiteral("data:");
const QString base64Marker = QStringLiteral(";base64,");
const QString imageType = QStringLiteral("image/");
// Larger embedded images are not written: one message must not be able to fill the disk.
const int maximumEmbeddedBytes = 10 * 1024 * 1024;
const int loggedDescriptionLength = 1000;

// Links are compared with the ones the store reads back, so they take the store's form here,
// once: a link with a blank or a lone "%" would otherwise be new at every refresh.
void takeStoredLinks(FeedMessage& message)
{
    message.setLink(FeedTrackerSparql::storedLink(message.link()));
    QList<FeedEnclosure> enclosures = message.enclosures();
    for (FeedEnclosure& enclosure : enclosures)
        enclosure.setRemoteUrl(FeedTrackerSparql::storedLink(enclosure.remoteUrl()));
    message.setEnclosures(enclosures);
}

// A broken surrogate becomes U+FFFD, so that what is stored is valid text.
QString validText(QString text)
{
    const ushort* codes = text.utf16();
    int first = 0;
    while (first < text.size() && (codes[first] & 0xF800) != 0xD800)
        ++first;
    for (int index = first; index < text.size(); ++index) {
        const QChar character = text.at(index);
        if (character.isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate())
            ++index;
        else if (character.isSurrogate())
            text[index] = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

QString attributeValue(const HtmlTag& tag, const HtmlTag::Attribute& attribute)
{
    return HtmlEntities::decode(tag.rawValue(attribute), HtmlEntities::Attribute);
}

// The URL as a browser reads it from the attribute.
QString urlValue(const HtmlTag& tag, const HtmlTag::Attribute* attribute)
{
    return attribute->hasValue() ? HtmlUrl::normalised(attributeValue(tag, *attribute)) : QString();
}

// The base URL of a message, parsed once for all its references; empty when it has none.
QUrl baseOf(const FeedMessage& message)
{
    return message.baseUrl().isEmpty() ? QUrl() : QUrl(message.baseUrl());
}

QString resolved(const QString& value, const QUrl& base)
{
    if (base.isEmpty() || HtmlUrl::schemeLength(value) > 0)
        return value;
    const QString absolute = base.resolved(QUrl(value)).toString();
    // A hostile base must not turn a harmless reference into a script or a page of its own.
    return FeedMarkupCleaner::isSafeUrl(absolute) ? absolute : value;
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
    if (!FeedMarkupCleaner::isEmbeddableImageType(mimeType))
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
    // Images, links and sizes are rewritten in one walk: each rewrite touches its own tags
    // and attributes, so the result is that of the three steps one after the other.
    rewriteTags(formatted, Images | Links | Dimensions);
    takeStoredLinks(formatted);
    return formatted;
}

void FeedFormatter::removeScriptsAndStyles(FeedMessage& message)
{
    message.setDescription(FeedMarkupCleaner::clean(validText(message.description()), message.baseUrl()));
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
    rewriteTags(message, Images);
}

void FeedFormatter::resolveRelativeHyperlinks(FeedMessage& message)
{
    rewriteTags(message, Links);
}

void FeedFormatter::formatImageDimensions(FeedMessage& message)
{
    rewriteTags(message, Dimensions);
}

// One walk over the image and link tags of the description; each tag's new values are
// written in the order of their attributes.
void FeedFormatter::rewriteTags(FeedMessage& message, int rewrites)
{
    const QString text = message.description();
    FeedTextEditor editor(text);
    ImageWork images{baseOf(message), {}, {}};
    int position = text.indexOf(QLatin1Char('<'));
    while (position >= 0) {
        int next = position + 1;
        const bool image = (rewrites & (Images | Dimensions)) && HtmlTag::startsAt(text, position, QLatin1String("img"));
        const bool link = !image && (rewrites & Links) && HtmlTag::startsAt(text, position, QLatin1String("a"));
        if (image || link) {
            const HtmlTag tag(text, position);
            if (!tag.isTerminated())
                break;
            Edits edits;
            if (image && (rewrites & Images))
                localizeImage(tag, images, edits);
            if (image && (rewrites & Dimensions))
                stripDimensions(tag, edits);
            if (link)
                resolveLink(tag, images.base, edits);
            std::sort(edits.begin(), edits.end(),
                      [](const Edit& a, const Edit& b) { return a.attribute->valueStart < b.attribute->valueStart; });
            for (const Edit& edit : qAsConst(edits))
                editor.replaceValue(*edit.attribute, edit.value);
            next = tag.end();
        }
        position = text.indexOf(QLatin1Char('<'), next);
    }
    message.setDescription(editor.result());
    if (rewrites & Images)
        message.addEnclosure(images.newImages);
    if (rewrites & Dimensions) {
        // Escaping a whole long description for the log would cost more than formatting it.
        FEED_LOG(debug, "Formatter") << "Formatted description : " << message.description().left(loggedDescriptionLength)
                                     << "(" << message.description().size() << "characters )";
    }
}

void FeedFormatter::localizeImage(const HtmlTag& tag, ImageWork& images, Edits& edits)
{
    const HtmlTag::Attribute* source = tag.attribute(QLatin1String("src"));
    if (!source)
        return;
    const QString value = urlValue(tag, source);
    if (value.isEmpty()) {
        FEED_LOG(debug, "Formatter") << "Empty web URL.. skipping !";
        return;
    }
    const QString replacement = value.startsWith(dataScheme, Qt::CaseInsensitive)
                                    ? localizeEmbeddedImage(value, images.newImages, images.enclosed)
                                    : localizeRemoteImage(value, images.base, images.newImages, images.enclosed);
    if (replacement != value)
        edits.append({source, replacement});
}

void FeedFormatter::resolveLink(const HtmlTag& tag, const QUrl& base, Edits& edits)
{
    const HtmlTag::Attribute* target = tag.attribute(QLatin1String("href"));
    if (!target)
        return;
    const QString value = urlValue(tag, target);
    if (value.isEmpty()) {
        FEED_LOG(debug, "Formatter") << "Empty web URL.. skipping !";
        return;
    }
    const QString absolute = resolved(value, base);
    FEED_LOG(debug, "Formatter") << " Hyperlink Absolute Path :  " << absolute;
    if (absolute != value)
        edits.append({target, absolute});
}

void FeedFormatter::stripDimensions(const HtmlTag& tag, Edits& edits)
{
    bool stripped = false;
    for (const QLatin1String name : {QLatin1String("width"), QLatin1String("height")}) {
        const HtmlTag::Attribute* size = tag.attribute(name);
        if (!size || !size->hasValue())
            continue;
        QString value = attributeValue(tag, *size);
        if (stripPxFromAttributes(value, size->valueStart)) {
            edits.append({size, value});
            stripped = true;
        }
    }
    if (stripped)
        FEED_LOG(debug, "Formatter") << "Start from pos : " << tag.end();
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

QString FeedFormatter::localizeRemoteImage(const QString& source, const QUrl& base,
                                           QList<FeedEnclosure>& newImages, QSet<QString>& enclosed)
{
    const QString absolute = resolved(source, base);
    // Images are fetched over the web: without a scheme nothing can fetch one, and queued it
    // would be tried at every refresh; a file: source would copy a local file for any feed.
    if (!HtmlUrl::hasScheme(absolute, QLatin1String("http")) && !HtmlUrl::hasScheme(absolute, QLatin1String("https"))) {
        FEED_LOG(debug, "Formatter") << "Image url can not be fetched, not queued:" << absolute;
        return source;
    }
    auto cached = _imageCache.constFind(absolute);
    if (cached == _imageCache.constEnd()) {
        FeedEnclosure enclosure;
        enclosure.setRemoteUrl(absolute);
        enclosure.setLocalUrl(FeedFilenameGenerator().generateFileName(absolute));
        enclosure.setType(FeedEnclosure::Essential);
        enclosure.setLength(0);
        takeImageContentType(enclosure);
        cached = _imageCache.insert(absolute, enclosure);
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
// once per suffix for the process, since the content-type service is slow next to the rest.
void FeedFormatter::takeImageContentType(FeedEnclosure& enclosure)
{
    static QHash<QString, QPair<QString, QString>> imageTypes;
    const QString suffix = QFileInfo(enclosure.localUrl()).suffix().toLower();
    if (suffix.isEmpty())
        return;
    auto known = imageTypes.constFind(suffix);
    if (known == imageTypes.constEnd()) {
        const ContentInfo info = ContentInfo::forFile(QUrl::fromLocalFile(enclosure.localUrl()));
        const bool image = info.mimeType().startsWith(imageType);
        known = imageTypes.insert(suffix, image ? qMakePair(info.mimeType(), info.typeIcon())
                                                : qMakePair(QString(), QString()));
    }
    if (known->first.isEmpty())
        return;
    enclosure.setMimeType(known->first);
    enclosure.setTypeIcon(known->second);
}

bool FeedFormatter::stripPxFromAttributes(QString& value, int position)
{
    if (!value.endsWith(QLatin1String("px")))
        return false;
    FEED_LOG(debug, "Formatter") << "found px attr : " << value << "at : " << position;
    value.remove(QLatin1String("px"));
    return true;
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
