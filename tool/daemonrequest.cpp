#include "daemonrequest.h"

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
