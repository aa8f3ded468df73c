#ifndef FEEDNAMESPACEPLUGININTERFACE_H
#define FEEDNAMESPACEPLUGININTERFACE_H

#include <QDomElement>
#include <QStringList>
#include <QtPlugin>

// A namespace plug-in turns elements of the XML namespaces it serves into elements of the
// common feed form. Its loader hands it elements of a document read with namespace
// processing; a null result means the plug-in did not convert the element. A result comes
// unattached and stays valid, wherever the caller puts it, while the library is loaded.
class FeedNamespacePluginInterface
{
public:
    virtual ~FeedNamespacePluginInterface() {}

    virtual QStringList supportedURIList() = 0;
    virtual QDomElement convertNode(const QDomElement& element) = 0;
};

#define FeedNamespacePluginInterface_iid "com.vorlane.feednamespaceplugininterface/1.0"
Q_DECLARE_INTERFACE(FeedNamespacePluginInterface, FeedNamespacePluginInterface_iid)

#endif
