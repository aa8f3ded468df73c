#include "daemonrequest.h"

#include "feedsettingservice.h"
#include "palvix.h"
#include "toolframe.h"
#include "virelonservice.h"

#include <memory>

int requestDaemon(const std::function<void(VirelonService*)>& request, int line)
{
    const std::unique_ptr<Palvix> client(Palvix::instance());
    request(client->engine());
    return daemonCallStatus(client->engine()->lastError(), line);
}

int requestSettings(const std::function<void(FeedSettingService*)>& request, int line)
{
    const std::unique_ptr<Palvix> client(Palvix::instance());
    request(client->settings());
    return daemonCallStatus(client->settings()->lastError(), line);
}
