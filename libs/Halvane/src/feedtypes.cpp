#include "feedtypes.h"

#include "feedchannel.h"

#include <QCoreApplication>

void FeedTypes::registerTypes()
{
    qRegisterMetaType<FeedEnclosure>("FeedEnclosure");
    qRegisterMetaType<FeedMessage>("FeedMessage");
    qRegisterMetaType<FeedChannel>("FeedChannel");
    qRegisterMetaTypeStreamOperators<FeedEnclosure>("FeedEnclosure");
    qRegisterMetaTypeStreamOperators<FeedMessage>("FeedMessage");
    qRegisterMetaTypeStreamOperators<FeedChannel>("FeedChannel");
}

namespace {

void registerAtStartup()
{
    FeedTypes::registerTypes();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(registerAtStartup)
