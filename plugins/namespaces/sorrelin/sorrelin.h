#ifndef SORRELIN_H
#define SORRELIN_H

#include "feednamespaceplugininterface.h"

#include <QMap>
#include <QObject>

class QDomDocument;

// Media RSS: a group becomes "enclosuregroup", a content item "enclosure", a thumbnail
// "enclosurethumbnail", with nesting kept.
class Sorrelin : public QObject, public FeedNamespacePluginInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID FeedNamespacePluginInterface_iid)
    Q_INTERFACES(FeedNamespacePluginInterface)

public:
    explicit Sorrelin(QObject* parent = nullptr);

    QStringList supportedURIList() override;
    QDomElement convertNode(const QDomElement& element) override;

private:
    using NodeHandler = QDomElement (*)(const QDomElement&);

    static void initMapTable();
    static QDomElement mapGroupNode(const QDomElement& group);
    static QDomElement mapContentNode(const QDomElement& content);
    static QDomElement mapThumbnailNode(const QDomElement& thumbnail);

    static bool isMediaElement(const QDomElement& element);
    static void appendConverted(QDomElement& parent, const QDomElement& child);

    static const QString nameSpaceUri1;
    static const QString nameSpaceUri2;
    static QMap<QString, NodeHandler> mapNodeToHandler;
    static bool initDone;
    // Outputs are handed out unattached and reach their document through a plain pointer,
    // so they are made in this one, which lives as long as the library.
    static QDomDocument outputDocument;
};

#endif
