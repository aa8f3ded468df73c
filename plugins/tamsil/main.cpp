#include "feedpluginapplication.h"
#include "tamsil.h"

int main(int argc, char** argv)
{
    // Lives as long as the process, never deleted: the XQuery engine leaks a little of each
    // query that is destroyed, and the plug-in's queries are meant to last.
    static Tamsil* const plugin = new Tamsil;
    FeedPluginApplication application(plugin, argc, argv);
    return QCoreApplication::exec();
}
