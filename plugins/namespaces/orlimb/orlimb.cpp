#include "orlimb.h"

#define FEED_LOG_SOURCE "orlimb"
#include "feedlog.h"

#include <QDomDocument>

// Everything that ends up in an output is built from QLatin1String, never QStringLiteral:
// a literal's data would stay in this library and dangle in the caller's elements once the
// library is unloaded.
namespace {

const QLatin1String OrigLinkTag("origLink");
const QLatin1String OrigEnclosureLinkTag("origEnclosureLink");

const QLatin1String LinkTag("link");
const QLatin1String OriginalEnclosureLinkTag("originalenclosurelink");
const QLatin1String SourceNamespaceAttribute("sourcenamespaceuri");

} // namespace

const QString Orlimb::nameSpaceUri = QLatin1String("http://rssnamespace.org/feedburner/ext/1.0");

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
    QDomElement output = outputDocument().createElement(tagName);
    output.appendChild(outputDocument().createTextNode(source.text()));
    output.setAttribute(SourceNamespaceAttribute, nameSpaceUri);
    return output;
}

// Outputs are handed out unattached, and an element reaches its document through a plain
// pointer: the document must outlive every output, so it is made once and never freed.
QDomDocument& Orlimb::outputDocument()
{
    static QDomDocument* const document = new QDomDocument();
    return *document;
}
