#include "domdump.h"

#include <QDomNamedNodeMap>
#include <QMap>

namespace DomDump {

namespace {

QString elementName(const QDomElement& element)
{
    if (element.namespaceURI().isEmpty())
        return element.tagName();
    return QLatin1Char('{') + element.namespaceURI() + QLatin1Char('}') + element.localName();
}

QString attributes(const QDomElement& element)
{
    QMap<QString, QString> sorted;
    const QDomNamedNodeMap map = element.attributes();
    for (int i = 0; i < map.count(); ++i) {
        const QDomAttr attribute = map.item(i).toAttr();
        sorted.insert(attribute.name(), attribute.value());
    }
    QString text;
    for (auto it = sorted.cbegin(); it != sorted.cend(); ++it)
        text += QLatin1Char(' ') + it.key() + QLatin1String("=\"") + it.value() + QLatin1Char('"');
    return text;
}

} // namespace

QString dump(const QDomNode& node)
{
    if (node.isCDATASection())
        return QLatin1String("[[") + node.nodeValue() + QLatin1String("]]");
    if (node.isText())
        return QLatin1Char('"') + node.nodeValue() + QLatin1Char('"');
    if (!node.isElement())
        return QString();
    const QDomElement element = node.toElement();
    const QString name = elementName(element);
    QString children;
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling())
        children += dump(child);
    if (children.isEmpty())
        return QLatin1Char('<') + name + attributes(element) + QLatin1String("/>");
    return QLatin1Char('<') + name + attributes(element) + QLatin1Char('>') + children
        + QLatin1String("</") + name + QLatin1Char('>');
}

QDomElement itemChild(QDomDocument& document, const QString& body)
{
    const QString xml = QLatin1String("<item xmlns:media=\"http://search.yahoo.com/mrss/\""
                                      " xmlns:mrss=\"http://search.yahoo.com/mrss\""
                                      " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
                                      " xmlns:content=\"http://purl.org/rss/1.0/modules/content/\""
                                      " xmlns:feedburner=\"http://rssnamespace.org/feedburner/ext/1.0\""
                                      " xmlns:x=\"urn:other\">")
        + body + QLatin1String("</item>");
    if (!document.setContent(xml, true))
        return QDomElement();
    return document.documentElement().firstChildElement();
}

} // namespace DomDump
