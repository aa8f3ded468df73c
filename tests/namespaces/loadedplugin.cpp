#include "loadedplugin.h"

#include "feednamespaceplugininterface.h"

LoadedPlugin::LoadedPlugin(const QString& path)
    : _loader(path)
{
    // QPluginLoader pins libraries by default; an outside loader may well not.
    _loader.setLoadHints(QLibrary::LoadHints());
}

LoadedPlugin::~LoadedPlugin()
{
    if (_loader.isLoaded())
        _loader.unload();
}

QObject* LoadedPlugin::object()
{
    return _loader.instance();
}

FeedNamespacePluginInterface* LoadedPlugin::plugin()
{
    return qobject_cast<FeedNamespacePluginInterface*>(_loader.instance());
}

