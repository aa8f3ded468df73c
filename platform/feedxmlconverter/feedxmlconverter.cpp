#include "feedxmlconverter.h"

#include "feeddate.h"
#include "htmltext.h"
#include "htmlurl.h"

#include <QDebug>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

const QString ContentNamespace = QStringLiteral("http://purl.org/rss/1.0/modules/content/");
const QString SourceNamespace = QStringLiteral("sourcenamespaceuri");

QString attribute(const QXmlStreamReader& reader, const char* name)
{
    return reader.attributes().value(QLatin1String(name)).toString();
}

bool isExtension(const QXmlStreamReader& reader)
{
    return reader.attributes().hasAttribute(SourceNamespace);
}

// Markup below the current element as text (xhtml content).
QString readMarkup(QXmlStreamReader& reader)
{
    QString markup;
    QXmlStreamWriter writer(&markup);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            writer.writeStartElement(reader.name().toString());
            for (const QXmlStreamAttribute& attribute : reader.attributes())
                writer.writeAttribute(attribute.qualifiedName().toString(), attribute.value().toString());
            break;
        case QXmlStreamReader::EndElement:
            if (depth-- == 0)
                return markup.trimmed();
            writer.writeEndElement();
            break;
        case QXmlStreamReader::Characters:
            writer.writeCharacters(reader.text().toString());
            break;
        default:
            break;
        }
    }
    return markup.trimmed();
}

// Descriptions are HTML: plain text is escaped so that its angle brackets stay text.
QString readText(QXmlStreamReader& reader)
{
    const QString type = attribute(reader, "type");
    if (type == QLatin1String("xhtml"))
        return readMarkup(reader);
    const QString text = reader.readElementText(QXmlStreamReader::IncludeChildElements);
    return type == QLatin1String("text") ? text.toHtmlEscaped() : text;
}

QString readTitle(QXmlStreamReader& reader)
{
    const bool html = attribute(reader, "type") == QLatin1String("html");
    const QString text = reader.readElementText(QXmlStreamReader::IncludeChildElements);
    return html ? HtmlText::toPlainText(text) : text.trimmed();
}

// Whether the text starts with a URL scheme and its colon; cheaper than parsing it.
bool hasScheme(const QString& link)
{
    for (int i = 0; i < link.size(); ++i) {
        const QChar c = link.at(i);
        if (c == QLatin1Char(':'))
            return i > 0;
        const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        const bool other = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+')
                           || c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!letter && (i == 0 || !other))
            return false;
    }
    return false;
}

// An absolute link stays as the feed wrote it; a relative one is resolved when the base is absolute.
QString resolved(const QUrl& base, const QString& link)
{
    if (link.isEmpty() || hasScheme(link) || base.isRelative())
        return link;
    return base.resolved(QUrl(link)).toString();
}

// A message link is opened in a browser: anything but a web page (a script, inline data, a
// local file) is left out.
QString webLink(const QString& link)
{
    const QString scheme = HtmlUrl::scheme(HtmlUrl::normalised(link));
    if (scheme.isEmpty() || scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return link;
    qDebug() << "Message link left out, not a web address:" << link;
    return QString();
}

FeedEnclosure readEnclosure(QXmlStreamReader& reader, unsigned int group)
{
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(attribute(reader, "url").trimmed());
    enclosure.setMimeType(attribute(reader, "type").trimmed());
    enclosure.setLength(attribute(reader, "size").trimmed().toUInt());
    enclosure.setDefault(attribute(reader, "isDefault").trimmed() == QLatin1String("true"));
    enclosure.setGroupId(group);
    enclosure.setType(FeedEnclosure::Optional);
    reader.skipCurrentElement();
    return enclosure;
}

void addUnique(QList<FeedEnclosure>& enclosures, const FeedEnclosure& enclosure)
{
    if (!enclosure.remoteUrl().isEmpty() && !enclosures.contains(enclosure))
        enclosures.append(enclosure);
}

} // namespace

void FeedXmlConverter::setSourceFeed(const QString& commonForm)
{
    _channel = FeedChannel();
    _errorString.clear();
    QXmlStreamReader reader(commonForm);
    if (reader.readNextStartElement() && reader.name() == QLatin1String("channel"))
        readChannel(reader);
    else if (!reader.hasError())
        reader.raiseError(QStringLiteral("The root element is not <channel>"));
    while (!reader.atEnd() && !reader.hasError())
        reader.readNext();
    if (reader.hasError()) {
        _errorString = QStringLiteral("Line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
        _channel = FeedChannel();
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

void FeedXmlConverter::readChannel(QXmlStreamReader& reader)
{
    QStringList bases;
    QString link;
    QString icon;
    QList<FeedMessage> messages;
    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        if (name == QLatin1String("title"))
            _channel.setTitle(readTitle(reader));
        else if (name == QLatin1String("link") && link.isEmpty())
            link = reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        else if (name == QLatin1String("description"))
            _channel.setDescription(readText(reader));
        else if (name == QLatin1String("image"))
            icon = reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        else if (name == QLatin1String("base"))
            bases.append(reader.readElementText().trimmed());
        else if (name == QLatin1String("item"))
            messages.append(readItem(reader));
        else
            reader.skipCurrentElement();
    }
    const QUrl base = baseOf(bases);
    _channel.setLink(resolved(base, link));
    if (!icon.isEmpty()) {
        FeedEnclosure enclosure;
        enclosure.setRemoteUrl(resolved(base, icon));
        enclosure.setType(FeedEnclosure::Essential);
        _channel.setIcon(enclosure);
    }
    _channel.setMessages(messages);
}

FeedMessage FeedXmlConverter::readItem(QXmlStreamReader& reader)
{
    FeedMessage message;
    QString link, sourceLink, guid, plain, content, summary, originalEnclosure;
    QStringList bases;
    QList<FeedEnclosure> enclosures;
    unsigned int groups = 0;
    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        if (name == QLatin1String("title")) {
            message.setTitle(readTitle(reader));
        } else if (name == QLatin1String("link")) {
            QString& target = isExtension(reader) ? sourceLink : link;
            const QString text = reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            if (target.isEmpty())
                target = text;
        } else if (name == QLatin1String("guid")) {
            const bool permalink = attribute(reader, "permalink").trimmed().compare(
                                       QLatin1String("false"), Qt::CaseInsensitive) != 0;
            const QString text = reader.readElementText().trimmed();
            if (permalink)
                guid = text;
        } else if (name == QLatin1String("description")) {
            const bool full = attribute(reader, "sourcenamespaceuri") == ContentNamespace;
            QString& target = full ? content : plain;
            const QString text = readText(reader);
            if (target.isEmpty())
                target = text;
        } else if (name == QLatin1String("summary")) {
            summary = readText(reader);
        } else if (name == QLatin1String("pubDate")) {
            const QDateTime date = FeedDate::parse(reader.readElementText());
            if (!message.publishedDate().isValid())
                message.setPublishedDate(date);
        } else if (name == QLatin1String("base")) {
            bases.append(reader.readElementText().trimmed());
        } else if (name == QLatin1String("enclosure")) {
            addUnique(enclosures, readEnclosure(reader, 0));
        } else if (name == QLatin1String("enclosuregroup")) {
            ++groups;
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("enclosure"))
                    addUnique(enclosures, readEnclosure(reader, groups));
                else
                    reader.skipCurrentElement();
            }
        } else if (name == QLatin1String("originalenclosurelink")) {
            originalEnclosure = reader.readElementText().trimmed();
        } else {
            reader.skipCurrentElement();
        }
    }
    const QUrl base = baseOf(bases);
    message.setBaseUrl(base.toString());
    // A guid is an identifier first: only one that is a whole URL can stand for the link.
    const QString chosenLink = !sourceLink.isEmpty() ? sourceLink : link;
    if (!chosenLink.isEmpty())
        message.setLink(webLink(resolved(base, chosenLink)));
    else if (!QUrl(guid).isRelative())
        message.setLink(webLink(guid));
    message.setDescription(content.isEmpty() ? plain : content);
    message.setSummary(!summary.isEmpty() ? summary : content.isEmpty() ? QString() : plain);
    if (!originalEnclosure.isEmpty() && !enclosures.isEmpty() && enclosures.first().groupId() == 0)
        enclosures.first().setRemoteUrl(originalEnclosure);
    for (FeedEnclosure& enclosure : enclosures)
        enclosure.setRemoteUrl(resolved(base, enclosure.remoteUrl()));
    message.setEnclosures(enclosures);
    return message;
}
