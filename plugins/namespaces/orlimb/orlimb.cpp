#include "orlimb.h"

#define FEED_LOG_SOURCE "orlimb"
#include "feedlog.h"

#include <QDomDocument>

namespace {

const QLatin1String OrigLinkTag("origLink");
const QLatin1String OrigEnclosureLinkTag("origEnclosureLink");

const QLatin1String LinkTag("link");
const QLatin1String OriginalEnclosureLinkTag("originalenclosurelink");
const QLatin1String SourceNamespaceAttribute("sourcenamespaceuri");

} // namespace

const QString Orlimb::nameSpaceUri = QStringLiteral("http://rssnamespace.org/feedburner/ext/1.0");
QDomDocument Orlimb::outputDocument;

Orlimb::Orlimb(QObject* parent)
    : QObject(parent)
{
}

QStringList Orlimb::supportedURIList()
{
    return {nameSpaceUri};
}

QDomElement Orlimb::convertNode(const QDomElement& element)
{
    FEED_LOG(debug, "Plugin") << "****** Received tag is : " << element.tagName()
                              << "  Parent is : " << element.parentNode().toElement().tagName()
                              << "Namespace URI : " << element.namespaceURI();
    if (element.namespaceURI() != nameSpaceUri) {
        FEED_LOG(debug, "Plugin") << "Namespace does not match!! Returning";
        return QDomElement();
    }
    const QString tag = element.localName();
    if (tag == OrigLinkTag) {
        FEED_LOG(debug, "Plugin") << "Found origLink node";
        return mapOrigLinkNode(element);
    }
    if (tag == OrigEnclosureLinkTag) {
        FEED_LOG(debug, "Plugin") << "Found origEnclosureLink node";
        return mapOrigEnclosureLinkNode(element);
    }
    return QDomElement();
}

QDomElement Orlimb::mapOrigLinkNode(const QDomElement& element)
{
    return textElement(LinkTag, element);
}

QDomElement Orlimb::mapOrigEnclosureLinkNode(const QDomElement& element)
{
    return textElement(OriginalEnclosureLinkTag, element);
}

QDomElement Orlimb::textElement(const QString& tagName, const QDomElement& source)
{
    QDomElement output = outputDocument.createElement(tagName);
    output.appendChild(outputDocument.createTextNode(source.text()));
    output.setAttribute(SourceNamespaceAttribute, nameSpaceUri);
    return output;
}
