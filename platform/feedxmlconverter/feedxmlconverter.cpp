#include "feedxmlconverter.h"

#include "feedlog.h"
#include "htmltext.h"
#include "htmlurl.h"

#include <QHash>
#include <QRegularExpression>
#include <QTextCodec>
#include <QUrl>
#include <QXmlStreamReader>

namespace {

const QString ContentNamespace = QStringLiteral("http://purl.org/rss/1.0/modules/content/");
const QString DcNamespace = QStringLiteral("http://purl.org/dc/elements/1.1/");
const QString DcTermsNamespace = QStringLiteral("http://purl.org/dc/terms/");
const QString MediaNamespace = QStringLiteral("http://search.yahoo.com/mrss/");
const QString MediaNamespaceWithoutSlash = QStringLiteral("http://search.yahoo.com/mrss");
const QString ProxyNamespace = QStringLiteral("http://rssnamespace.org/feedburner/ext/1.0");
const QString XmlNamespace = QStringLiteral("http://www.w3.org/XML/1998/namespace");

// An attribute without a namespace; empty when absent.
QString attribute(const FeedXmlAttributes& attributes, QLatin1String name)
{
    for (const FeedXmlAttribute& attribute : attributes) {
        if (attribute.namespaceUri.isEmpty() && attribute.name == name)
            return attribute.value;
    }
    return QString();
}

// Where a namespace plug-in made the element, the namespace it came from.
QString sourceNamespace(const FeedXmlAttributes& attributes)
{
    return attribute(attributes, QLatin1String("sourcenamespaceuri"));
}

bool isMedia(const QString& namespaceUri)
{
    return namespaceUri == MediaNamespace || namespaceUri == MediaNamespaceWithoutSlash;
}

// Text as it stands in markup; attribute values also keep their line breaks and tabs.
QString escaped(const QStringRef& text, bool inAttribute)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '&': out += QLatin1String("&amp;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\n': out += inAttribute ? QLatin1String("&#10;") : QLatin1String("\n"); break;
        case '\r': out += inAttribute ? QLatin1String("&#13;") : QLatin1String("\r"); break;
        case '\t': out += inAttribute ? QLatin1String("&#9;") : QLatin1String("\t"); break;
        default: out += c;
        }
    }
    return out;
}

// Base64 text as the UTF-8 text it encodes; empty when that is not text.
QString decodedBase64(const QString& text)
{
    const QByteArray bytes = QByteArray::fromBase64(text.toLatin1());
    QTextCodec::ConverterState state;
    const QString decoded = QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 ? decoded : QString();
}

// A message link is opened in a browser: anything but a web page (a script, inline data, a
// local file) is left out.
QString webLink(const QString& link)
{
    const QString scheme = HtmlUrl::scheme(HtmlUrl::normalised(link));
    if (scheme.isEmpty() || scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return link;
    FEED_LOG(debug, "Tamsil") << "Message link left out, not a web address:" << link;
    return QString();
}

// An absolute link stays as the feed wrote it; a relative one is resolved when the base is absolute.
QString resolved(const QUrl& base, const QString& link)
{
    if (link.isEmpty() || HtmlUrl::schemeLength(link) > 0 || base.isRelative())
        return link;
    return base.resolved(QUrl(link)).toString();
}

// Media RSS names the length "fileSize"; the common form "length", or "size" as the plug-in writes it.
FeedEnclosure enclosureOf(const FeedXmlAttributes& attributes, bool media, unsigned int group)
{
    QString length = attribute(attributes, media ? QLatin1String("fileSize") : QLatin1String("size")).trimmed();
    if (length.isEmpty() && !media)
        length = attribute(attributes, QLatin1String("length")).trimmed();
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(attribute(attributes, QLatin1String("url")).trimmed());
    enclosure.setMimeType(attribute(attributes, QLatin1String("type")).trimmed());
    enclosure.setLength(length.toUInt());
    enclosure.setDefault(attribute(attributes, QLatin1String("isDefault")).trimmed() == QLatin1String("true"));
    enclosure.setGroupId(group);
    enclosure.setType(FeedEnclosure::Optional);
    return enclosure;
}

FeedXmlAttributes attributesOf(const QXmlStreamReader& reader)
{
    FeedXmlAttributes attributes;
    for (const QXmlStreamAttribute& attribute : reader.attributes())
        attributes.append({attribute.namespaceUri().toString(), attribute.prefix().toString(),
                           attribute.name().toString(), attribute.value().toString()});
    return attributes;
}

} // namespace

void FeedXmlConverter::setSourceFeed(const QString& commonForm)
{
    begin();
    QXmlStreamReader reader(commonForm);
    while (!reader.atEnd() && !_failed) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            startElement(reader.namespaceUri().toString(), reader.name().toString(), attributesOf(reader));
            break;
        case QXmlStreamReader::EndElement:
            endElement();
            break;
        case QXmlStreamReader::Characters:
            characters(reader.text());
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        fail(QStringLiteral("Line %1: %2").arg(reader.lineNumber()).arg(reader.errorString()));
}

// Until its channel is complete, the form counts as unreadable.
void FeedXmlConverter::begin()
{
    const QUrl documentUrl = _documentUrl;
    *this = FeedXmlConverter();
    _documentUrl = documentUrl;
    _errorString = QStringLiteral("No complete <channel>");
}

void FeedXmlConverter::fail(const QString& error)
{
    if (!_failed)
        _errorString = error;
    _failed = true;
    _channel = FeedChannel();
}

void FeedXmlConverter::startElement(const QString& namespaceUri, const QString& name,
                                    const FeedXmlAttributes& attributes)
{
    ++_depth;
    if (_failed || _skipTo > 0)
        return;
    if (_capturing) {
        if (_capture.markup)
            markupStart(name, attributes);
        return;
    }
    if (_depth == 1)
        startChannel(namespaceUri, name);
    else if (_depth == 2)
        startChannelChild(namespaceUri, name, attributes);
    else if (_inItem && _depth == 3)
        startItemChild(namespaceUri, name, attributes);
    else if (_groupDepth > 0 && _depth == _groupDepth + 1)
        startGroupChild(namespaceUri, name, attributes);
    else
        skip();
}

void FeedXmlConverter::characters(const QStringRef& text)
{
    if (_failed || _skipTo > 0)
        return;
    if (_depth == 0 && !text.trimmed().isEmpty()) {
        fail(QStringLiteral("Text outside <channel>"));
        return;
    }
    if (!_capturing || text.isEmpty())
        return;
    if (!_capture.markup) {
        _capture.text += text;
        return;
    }
    if (_capture.openTag) {
        _capture.text += QLatin1Char('>');
        _capture.openTag = false;
    }
    _capture.text += escaped(text, false);
}

void FeedXmlConverter::endElement()
{
    const int depth = _depth--;
    if (_failed)
        return;
    if (_skipTo > 0) {
        if (depth == _skipTo)
            _skipTo = 0;
        return;
    }
    if (_capturing) {
        if (depth == _capture.depth)
            finishCapture();
        else if (_capture.markup)
            markupEnd();
        return;
    }
    if (depth == 1)
        finishChannel();
    else if (_inItem && depth == 2)
        finishItem();
    else if (depth == _groupDepth)
        _groupDepth = 0;
}

void FeedXmlConverter::startChannel(const QString& namespaceUri, const QString& name)
{
    if (_channelDone)
        fail(QStringLiteral("More than one <channel>"));
    else if (!namespaceUri.isEmpty() || name != QLatin1String("channel"))
        fail(QStringLiteral("The root element is not <channel>"));
}

void FeedXmlConverter::startChannelChild(const QString& namespaceUri, const QString& name,
                                         const FeedXmlAttributes& attributes)
{
    if (namespaceUri == DcNamespace && name == QLatin1String("title")) {
        capture(Target::ChannelDcTitle, Reading::Title, attributes);
        return;
    }
    if (!namespaceUri.isEmpty()) {
        skip();
        return;
    }
    if (name == QLatin1String("item"))
        startItem(attributes);
    else if (name == QLatin1String("title"))
        capture(Target::ChannelTitle, Reading::Title, attributes);
    else if (name == QLatin1String("link"))
        capture(Target::ChannelLink, Reading::Trimmed, attributes);
    else if (name == QLatin1String("description"))
        capture(Target::ChannelDescription, Reading::Rich, attributes);
    else if (name == QLatin1String("image"))
        capture(Target::ChannelImage, Reading::Trimmed, attributes);
    else if (name == QLatin1String("base"))
        capture(Target::ChannelBase, Reading::Trimmed, attributes);
    else
        skip();
}

void FeedXmlConverter::startItem(const FeedXmlAttributes& attributes)
{
    _inItem = true;
    _item.clear();
    for (const FeedXmlAttribute& attribute : attributes) {
        if (attribute.namespaceUri == XmlNamespace && attribute.name == QLatin1String("base"))
            _item.addBase(attribute.value.trimmed());
    }
}

void FeedXmlConverter::startItemChild(const QString& namespaceUri, const QString& name,
                                      const FeedXmlAttributes& attributes)
{
    if (!namespaceUri.isEmpty()) {
        startExtension(namespaceUri, name, attributes);
        return;
    }
    const QString source = sourceNamespace(attributes);
    if (name == QLatin1String("title")) {
        captureText(FeedItemFields::Title, Reading::Title, attributes);
    } else if (name == QLatin1String("link")) {
        captureText(source == ProxyNamespace ? FeedItemFields::SourceLink : FeedItemFields::Link, Reading::Trimmed,
                    attributes);
    } else if (name == QLatin1String("guid")) {
        const bool permalink = attribute(attributes, QLatin1String("isPermaLink")).trimmed().compare(
                                   QLatin1String("false"), Qt::CaseInsensitive) != 0;
        if (permalink)
            captureText(FeedItemFields::Guid, Reading::Trimmed, attributes);
        else
            skip();
    } else if (name == QLatin1String("description")) {
        const FeedItemFields::Text kind = source == ContentNamespace ? FeedItemFields::Content
                                          : source == DcNamespace    ? FeedItemFields::DcDescription
                                                                     : FeedItemFields::Description;
        captureText(kind, Reading::Rich, attributes);
    } else if (name == QLatin1String("summary")) {
        captureText(FeedItemFields::Summary, Reading::Rich, attributes);
    } else if (name == QLatin1String("pubDate")) {
        captureDate(source.isEmpty() ? FeedItemFields::OwnDate : FeedItemFields::DcDate, attributes);
    } else if (name == QLatin1String("base")) {
        capture(Target::ItemBase, Reading::Trimmed, attributes);
    } else if (name == QLatin1String("enclosure")) {
        _item.addEnclosure(enclosureOf(attributes, false, 0), !source.isEmpty());
        skip();
    } else if (name == QLatin1String("enclosuregroup")) {
        _group = _item.startGroup();
        _groupDepth = _depth;
    } else if (name == QLatin1String("originalenclosurelink")) {
        captureText(FeedItemFields::OriginalEnclosureLink, Reading::Trimmed, attributes);
    } else {
        skip();
    }
}

// Extension elements as the feed wrote them; those that mean nothing here are passed over.
void FeedXmlConverter::startExtension(const QString& namespaceUri, const QString& name,
                                      const FeedXmlAttributes& attributes)
{
    const bool media = isMedia(namespaceUri);
    if (media && name == QLatin1String("content")) {
        _item.addEnclosure(enclosureOf(attributes, true, 0), true);
        skip();
    } else if (media && name == QLatin1String("group")) {
        _group = _item.startGroup();
        _groupDepth = _depth;
    } else if (media && name == QLatin1String("title")) {
        captureText(FeedItemFields::MediaTitle, Reading::Title, attributes);
    } else if (namespaceUri == DcNamespace && name == QLatin1String("title")) {
        captureText(FeedItemFields::DcTitle, Reading::Title, attributes);
    } else if (namespaceUri == DcNamespace && name == QLatin1String("description")) {
        captureText(FeedItemFields::DcDescription, Reading::Rich, attributes);
    } else if (namespaceUri == DcNamespace && name == QLatin1String("date")) {
        captureDate(FeedItemFields::DcDate, attributes);
    } else if (namespaceUri == DcTermsNamespace && name == QLatin1String("issued")) {
        captureDate(FeedItemFields::IssuedDate, attributes);
    } else if (namespaceUri == DcTermsNamespace && name == QLatin1String("created")) {
        captureDate(FeedItemFields::CreatedDate, attributes);
    } else if (namespaceUri == DcTermsNamespace && name == QLatin1String("modified")) {
        captureDate(FeedItemFields::ModifiedDate, attributes);
    } else if (namespaceUri == ContentNamespace && name == QLatin1String("encoded")) {
        captureText(FeedItemFields::Content, Reading::Rich, attributes);
    } else if (namespaceUri == ProxyNamespace && name == QLatin1String("origLink")) {
        captureText(FeedItemFields::SourceLink, Reading::Trimmed, attributes);
    } else if (namespaceUri == ProxyNamespace && name == QLatin1String("origEnclosureLink")) {
        captureText(FeedItemFields::OriginalEnclosureLink, Reading::Trimmed, attributes);
    } else {
        skip();
    }
}

void FeedXmlConverter::startGroupChild(const QString& namespaceUri, const QString& name,
                                       const FeedXmlAttributes& attributes)
{
    const bool media = isMedia(namespaceUri);
    if ((media || namespaceUri.isEmpty()) && name == (media ? QLatin1String("content") : QLatin1String("enclosure")))
        _item.addEnclosure(enclosureOf(attributes, media, _group), true);
    skip();
}

void FeedXmlConverter::capture(Target target, Reading reading, const FeedXmlAttributes& attributes)
{
    _capturing = true;
    _capture = Capture();
    _capture.target = target;
    _capture.reading = reading;
    _capture.depth = _depth;
    _capture.type = attribute(attributes, QLatin1String("type"));
    _capture.markup = reading == Reading::Rich && _capture.type == QLatin1String("xhtml");
    _capture.base64 = !_capture.markup && attribute(attributes, QLatin1String("encoding")) == QLatin1String("base64");
}

void FeedXmlConverter::captureText(FeedItemFields::Text kind, Reading reading, const FeedXmlAttributes& attributes)
{
    capture(Target::ItemText, reading, attributes);
    _capture.kind = kind;
}

void FeedXmlConverter::captureDate(FeedItemFields::DateRank rank, const FeedXmlAttributes& attributes)
{
    capture(Target::ItemDate, Reading::Raw, attributes);
    _capture.rank = rank;
}

void FeedXmlConverter::skip()
{
    _skipTo = _depth;
}

// Markup below an xhtml description, written out as text the way an XML writer would.
void FeedXmlConverter::markupStart(const QString& name, const FeedXmlAttributes& attributes)
{
    QString& text = _capture.text;
    if (_capture.openTag)
        text += QLatin1Char('>');
    text += QLatin1Char('<') + name;
    for (const FeedXmlAttribute& attribute : attributes) {
        text += QLatin1Char(' ');
        if (!attribute.prefix.isEmpty())
            text += attribute.prefix + QLatin1Char(':');
        text += attribute.name + QLatin1String("=\"") + escaped(QStringRef(&attribute.value), true) + QLatin1Char('"');
    }
    _capture.openTag = true;
    _capture.open.append(name);
}

void FeedXmlConverter::markupEnd()
{
    const QString name = _capture.open.takeLast();
    if (_capture.openTag)
        _capture.text += QLatin1String("/>");
    else
        _capture.text += QLatin1String("</") + name + QLatin1Char('>');
    _capture.openTag = false;
}

// Descriptions are HTML: plain text is escaped so that its angle brackets stay text.
QString FeedXmlConverter::capturedText() const
{
    if (_capture.markup)
        return _capture.text.trimmed();
    const QString text = _capture.base64 ? decodedBase64(_capture.text) : _capture.text;
    const bool html = _capture.type == QLatin1String("html");
    switch (_capture.reading) {
    case Reading::Title:
        return html ? HtmlText::toPlainText(text) : text.trimmed();
    case Reading::Rich:
        return _capture.type == QLatin1String("text") ? text.toHtmlEscaped() : text;
    case Reading::Trimmed:
        return text.trimmed();
    case Reading::Raw:
        break;
    }
    return text;
}

void FeedXmlConverter::finishCapture()
{
    _capturing = false;
    const QString text = capturedText();
    switch (_capture.target) {
    case Target::ChannelTitle:
        _channelTitle = _channelTitle.isEmpty() ? text : _channelTitle;
        break;
    case Target::ChannelDcTitle:
        _channelDcTitle = _channelDcTitle.isEmpty() ? text : _channelDcTitle;
        break;
    case Target::ChannelLink:
        _channelLink = _channelLink.isEmpty() ? text : _channelLink;
        break;
    case Target::ChannelDescription:
        _channelDescription = _channelDescription.isEmpty() ? text : _channelDescription;
        break;
    case Target::ChannelImage:
        _channelImage = text;
        break;
    case Target::ChannelBase:
        _channelBases.append(text);
        break;
    case Target::ItemText:
        _item.add(_capture.kind, text);
        break;
    case Target::ItemDate:
        _item.addDate(_capture.rank, text);
        break;
    case Target::ItemBase:
        _item.addBase(text);
        break;
    }
}

// Each xml:base level is resolved against the one around it, the outermost against the document.
QUrl FeedXmlConverter::baseOf(const QStringList& bases) const
{
    QUrl base = _documentUrl;
    for (const QString& level : bases)
        base = base.resolved(QUrl(level));
    return base;
}

void FeedXmlConverter::finishItem()
{
    _inItem = false;
    FeedMessage message;
    const QUrl base = baseOf(_channelBases + _item.bases());
    message.setBaseUrl(base.toString());
    message.setTitle(_item.title());
    // A guid is an identifier first: only one that is a whole URL can stand for the link.
    const QString chosenLink = _item.link();
    const QString guid = _item.guid();
    if (!chosenLink.isEmpty())
        message.setLink(webLink(resolved(base, chosenLink)));
    else if (!QUrl(guid).isRelative())
        message.setLink(webLink(guid));
    message.setDescription(_item.description());
    message.setSummary(_item.summary());
    message.setPublishedDate(_item.published());
    QList<FeedEnclosure> enclosures = _item.enclosures();
    const QString originalEnclosure = _item.originalEnclosureLink();
    if (!originalEnclosure.isEmpty() && !enclosures.isEmpty() && enclosures.first().groupId() == 0)
        enclosures.first().setRemoteUrl(originalEnclosure);
    for (FeedEnclosure& enclosure : enclosures)
        enclosure.setRemoteUrl(resolved(base, enclosure.remoteUrl()));
    message.setEnclosures(enclosures);
    _messages.append(message);
}

void FeedXmlConverter::finishChannel()
{
    _channelDone = true;
    _errorString.clear();
    const QUrl base = baseOf(_channelBases);
    _channel.setTitle(_channelTitle.isEmpty() ? _channelDcTitle : _channelTitle);
    _channel.setLink(resolved(base, _channelLink));
    _channel.setDescription(_channelDescription);
    if (!_channelImage.isEmpty()) {
        FeedEnclosure enclosure;
        enclosure.setRemoteUrl(resolved(base, _channelImage));
        enclosure.setType(FeedEnclosure::Essential);
        _channel.setIcon(enclosure);
    }
    _channel.setMessages(_messages);
}
