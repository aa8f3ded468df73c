#ifndef QUENBRY_H
#define QUENBRY_H

#include "feednamespaceplugininterface.h"

#include <QObject>

class QDomDocument;

// Dublin Core and the RSS 1.0 content module: a date becomes "pubDate", a description or
// encoded content "description"; the text is carried over unchanged.
class Quenbry : public QObject, public FeedNamespacePluginInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID FeedNamespacePluginInterface_iid)
    Q_INTERFACES(FeedNamespacePluginInterface)

public:
    explicit Quenbry(QObject* parent = nullptr);

    QStringList supportedURIList() override;
    QDomElement convertNode(const QDomElement& element) override;

private:
    static QDomElement mapDateNode(const QDomElement& element, QString uri);
    static QDomElement mapDescriptionNode(const QDomElement& element, QString uri);

    static QDomElement textElement(const QString& tagName, const QDomElement& source,
                                   const QString& uri);

    static const QString dublinCorenameSpaceUri;
    static const QString contentNamespaceUri;
    // Outputs are handed out unattached and reach their document through a plain pointer,
    // so they are made in this one, which lives as long as the library.
    static QDomDocument outputDocument;
};

#endif
