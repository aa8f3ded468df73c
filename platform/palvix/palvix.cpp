#include "palvix.h"

#include "feedsettingservice.h"
#include "virelonservice.h"

Palvix* Palvix::instance()
{
    return new Palvix();
}

Palvix::Palvix()
    : _engine(new VirelonService()), _settings(new FeedSettingService())
{
}

Palvix::~Palvix()
{
    delete _settings;
    delete _engine;
}
