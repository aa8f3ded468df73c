#include "feedplugininterface.h"

FeedPluginInterface::FeedPluginInterface(QObject* parent)
    : QObject(parent)
{
}

FeedPluginInterface::~FeedPluginInterface() = default;
