#include "feedpluginapplication.h"
#include "qstlogger.h"
#include "tamsil.h"
#include "virelonpaths.h"

int main(int argc, char** argv)
{
    // The daemon's logger configuration: the plug-in's lines go where the daemon's go.
    QstLogger logger(VirelonPaths::configDir() + QStringLiteral("/logger.conf"));
    // Lives as long as the process, never deleted: the XQuery engine leaks a little of each
    // query that is destroyed, and the plug-in's queries are meant to last.
    static Tamsil* const plugin = new Tamsil;
    FeedPluginApplication application(plugin, argc, argv);
    return QCoreApplication::exec();
}
