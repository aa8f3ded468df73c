#include "feedpluginapplication.h"
#include "tamsil.h"

int main(int argc, char** argv)
{
    auto* plugin = new Tamsil;
    FeedPluginApplication application(plugin, argc, argv);
    return QCoreApplication::exec();
}
