#include "feedlog.h"
#include "qstlogger.h"
#include "virelon.h"
#include "virelonpaths.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QstLogger logger(VirelonPaths::configDir() + QStringLiteral("/logger.conf"));
    FEED_LOG(debug, "Engine") << "---[Virelon logger init - ok ]--------------------------";
    if (!Virelon::instance()->start()) {
        FEED_LOG(critical, "Engine") << "Exiting: Virelon start failed !";
        return 1;
    }
    return app.exec();
}
