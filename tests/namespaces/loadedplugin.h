#ifndef LOADEDPLUGIN_H
#define LOADEDPLUGIN_H

#include <QPluginLoader>

class FeedNamespacePluginInterface;

// A namespace plug-in library loaded as the outside loader does it, and unloaded from the
// process again at the end, so that a later load starts from a fresh library.
class LoadedPlugin
{
public:
    explicit LoadedPlugin(const QString& path);
    ~LoadedPlugin();

    QObject* object();
    // Null when the library fails to load or lacks the interface.
    FeedNamespacePluginInterface* plugin();
    QString errorString() const { return _loader.errorString(); }
    // True when the library has left the process.
    bool unload() { return _loader.unload(); }

private:
    Q_DISABLE_COPY(LoadedPlugin)
    QPluginLoader _loader;
};

#endif
