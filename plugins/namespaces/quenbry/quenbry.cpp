#include "quenbry.h"

#define FEED_LOG_SOURCE "quenbry"
#include "feedlog.h"

#include <QDomDocument>

namespace {

const QLatin1String DateTag("date");
const QLatin1String DescriptionTag("description");
const QLatin1String EncodedTag("encoded");

const QLatin1String PubDateTag("pubDate");
const QLatin1String SourceNamespaceAttribute("sourcenamespaceuri");

} // namespace

const QString Quenbry::dublinCorenameSpaceUri = QStringLiteral("http://purl.org/dc/elements/1.1/");
const QString Quenbry::contentNamespaceUri =
    QStringLiteral("http://purl.org/rss/1.0/modules/content/");
QDomDocument Quenbry::outputDocument;

Quenbry::Quenbry(QObject* parent)
    : QObject(parent)
{
}

QStringList Quenbry::supportedURIList()
{
    FEED_LOG(debug, "Plugin");
    return {dublinCorenameSpaceUri, contentNamespaceUri};
}

QDomElement Quenbry::convertNode(const QDomElement& element)
{
    FEED_LOG(debug, "Plugin") << "****** Received tag is : " << element.tagName()
                              << "  Parent is : " << element.parentNode().toElement().tagName()
                              << "Namespace URI : " << element.namespaceURI();
    const QString uri = element.namespaceURI();
    if (uri != dublinCorenameSpaceUri && uri != contentNamespaceUri) {
        FEED_LOG(debug, "Plugin") << "Namespace does not match!! Returning";
        return QDomElement();
    }
    const QString tag = element.localName();
    if (uri == dublinCorenameSpaceUri && tag == DateTag) {
        FEED_LOG(debug, "Plugin") << "Found date node";
        return mapDateNode(element, dublinCorenameSpaceUri);
    }
    if (uri == dublinCorenameSpaceUri && tag == DescriptionTag) {
        FEED_LOG(debug, "Plugin") << "Found description node";
        return mapDescriptionNode(element, dublinCorenameSpaceUri);
    }
    if (uri == contentNamespaceUri && tag == EncodedTag) {
        FEED_LOG(debug, "Plugin") << "Found description node";
        return mapDescriptionNode(element, contentNamespaceUri);
    }
    FEED_LOG(debug, "Plugin") << "Tag not handled";
    return QDomElement();
}

QDomElement Quenbry::mapDateNode(const QDomElement& element, QString uri)
{
    FEED_LOG(debug, "Plugin");
    return textElement(PubDateTag, element, uri);
}

QDomElement Quenbry::mapDescriptionNode(const QDomElement& element, QString uri)
{
    FEED_LOG(debug, "Plugin");
    return textElement(DescriptionTag, element, uri);
}

QDomElement Quenbry::textElement(const QString& tagName, const QDomElement& source,
                                 const QString& uri)
{
    QDomElement output = outputDocument.createElement(tagName);
    output.setAttribute(SourceNamespaceAttribute, uri);
    output.appendChild(outputDocument.createTextNode(source.text()));
    return output;
}
