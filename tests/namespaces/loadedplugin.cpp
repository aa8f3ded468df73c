#include "loadedplugin.h"

#include "feednamespaceplugininterface.h"

#include <QFile>
#include <QFileInfo>

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

bool LoadedPlugin::isMapped(const QString& path)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains(QFile::encodeName(QFileInfo(path).canonicalFilePath()));
}
