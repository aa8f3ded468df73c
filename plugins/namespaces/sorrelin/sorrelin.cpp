#include "sorrelin.h"

#define FEED_LOG_SOURCE "sorrelin"
#include "feedlog.h"

#include <QDomDocument>

namespace {

const QLatin1String GroupTag("group");
const QLatin1String ContentTag("content");
const QLatin1String ThumbnailTag("thumbnail");

const QLatin1String EnclosureGroupTag("enclosuregroup");
const QLatin1String EnclosureTag("enclosure");
const QLatin1String EnclosureThumbnailTag("enclosurethumbnail");

const QLatin1String UrlAttribute("url");
const QLatin1String TypeAttribute("type");
const QLatin1String FileSizeAttribute("fileSize");
const QLatin1String SizeAttribute("size");
const QLatin1String IsDefaultAttribute("isDefault");
const QLatin1String SourceNamespaceAttribute("sourcenamespaceuri");

void copyAttribute(const QDomElement& source, const QString& name, QDomElement& target,
                   const QString& targetName)
{
    if (source.hasAttribute(name))
        target.setAttribute(targetName, source.attribute(name));
}

} // namespace

const QString Sorrelin::nameSpaceUri1 = QStringLiteral("http://search.yahoo.com/mrss");
const QString Sorrelin::nameSpaceUri2 = QStringLiteral("http://search.yahoo.com/mrss/");
QMap<QString, Sorrelin::NodeHandler> Sorrelin::mapNodeToHandler;
bool Sorrelin::initDone = false;
QDomDocument Sorrelin::outputDocument;

Sorrelin::Sorrelin(QObject* parent)
    : QObject(parent)
{
}

QStringList Sorrelin::supportedURIList()
{
    FEED_LOG(debug, "Plugin");
    return {nameSpaceUri1, nameSpaceUri2};
}

QDomElement Sorrelin::convertNode(const QDomElement& element)
{
    FEED_LOG(debug, "Plugin") << "****** Received tag is : " << element.tagName()
                              << "  Parent is : " << element.parentNode().toElement().tagName()
                              << "Namespace URI : " << element.namespaceURI();
    if (!isMediaElement(element)) {
        FEED_LOG(debug, "Plugin") << "Namespace does not match!! Returning";
        return QDomElement();
    }
    if (!initDone) {
        initMapTable();
        initDone = true;
    }
    const NodeHandler handler = mapNodeToHandler.value(element.localName());
    if (!handler) {
        FEED_LOG(debug, "Plugin") << "Tag not found";
        return QDomElement();
    }
    return handler(element);
}

void Sorrelin::initMapTable()
{
    FEED_LOG(debug, "Plugin");
    mapNodeToHandler.insert(GroupTag, &Sorrelin::mapGroupNode);
    mapNodeToHandler.insert(ContentTag, &Sorrelin::mapContentNode);
    mapNodeToHandler.insert(ThumbnailTag, &Sorrelin::mapThumbnailNode);
}

QDomElement Sorrelin::mapGroupNode(const QDomElement& group)
{
    FEED_LOG(debug, "Plugin");
    QDomElement enclosureGroup = outputDocument.createElement(EnclosureGroupTag);
    for (QDomElement child = group.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        if (isMediaElement(child)) {
            FEED_LOG(debug, "Plugin") << "group child is : " << child.tagName()
                                      << "Prefix is : " << child.prefix();
            appendConverted(enclosureGroup, child);
            continue;
        }
        FEED_LOG(debug, "Plugin") << "Ignoring node : " << child.tagName()
                                  << "Namespace : " << child.namespaceURI();
        FEED_LOG(debug, "Plugin") << "Appending the unknown child as it is ";
        // A deep copy: moving the child would cut the source's sibling chain under the loop.
        enclosureGroup.appendChild(outputDocument.importNode(child, true));
    }
    return enclosureGroup;
}

QDomElement Sorrelin::mapContentNode(const QDomElement& content)
{
    FEED_LOG(debug, "Plugin");
    QDomElement enclosure = outputDocument.createElement(EnclosureTag);
    copyAttribute(content, UrlAttribute, enclosure, UrlAttribute);
    copyAttribute(content, TypeAttribute, enclosure, TypeAttribute);
    if (content.hasAttribute(FileSizeAttribute))
        FEED_LOG(debug, "Plugin") << "fileSize: " << content.attribute(FileSizeAttribute);
    copyAttribute(content, FileSizeAttribute, enclosure, SizeAttribute);
    copyAttribute(content, IsDefaultAttribute, enclosure, IsDefaultAttribute);
    enclosure.setAttribute(SourceNamespaceAttribute, nameSpaceUri2);

    for (QDomElement child = content.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        if (isMediaElement(child)) {
            FEED_LOG(debug, "Plugin") << "content child is : " << child.tagName()
                                      << "Prefix is : " << child.prefix();
            appendConverted(enclosure, child);
        } else {
            FEED_LOG(debug, "Plugin") << "Unhandled namespace node : " << child.tagName()
                                      << "Namespace : " << child.namespaceURI();
        }
    }
    return enclosure;
}

QDomElement Sorrelin::mapThumbnailNode(const QDomElement& thumbnail)
{
    FEED_LOG(debug, "Plugin");
    QDomElement enclosureThumbnail = outputDocument.createElement(EnclosureThumbnailTag);
    copyAttribute(thumbnail, UrlAttribute, enclosureThumbnail, UrlAttribute);
    return enclosureThumbnail;
}

bool Sorrelin::isMediaElement(const QDomElement& element)
{
    const QString uri = element.namespaceURI();
    return uri == nameSpaceUri1 || uri == nameSpaceUri2;
}

void Sorrelin::appendConverted(QDomElement& parent, const QDomElement& child)
{
    const NodeHandler handler = mapNodeToHandler.value(child.localName());
    if (handler)
        parent.appendChild(handler(child));
}
