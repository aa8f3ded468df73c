#ifndef ORLIMB_H
#define ORLIMB_H

#include "feednamespaceplugininterface.h"

#include <QObject>

class QDomDocument;

// The feed-proxy extension: an item's link at its source site becomes "link", its
// enclosure's link there "originalenclosurelink".
class Orlimb : public QObject, public FeedNamespacePluginInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID FeedNamespacePluginInterface_iid)
    Q_INTERFACES(FeedNamespacePluginInterface)

public:
    explicit Orlimb(QObject* parent = nullptr);

    QStringList supportedURIList() override;
    QDomElement convertNode(const QDomElement& element) override;

private:
    static QDomElement mapOrigLinkNode(const QDomElement& element);
    static QDomElement mapOrigEnclosureLinkNode(const QDomElement& element);

    static QDomElement textElement(const QString& tagName, const QDomElement& source);

    static const QString nameSpaceUri;
    // Outputs are handed out unattached and reach their document through a plain pointer,
    // so they are made in this one, which lives as long as the library.
    static QDomDocument outputDocument;
};

#endif
