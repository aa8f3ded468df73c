#ifndef DAEMONREQUEST_H
#define DAEMONREQUEST_H

#include <functional>

class FeedSettingService;
class VirelonService;

// One request to the daemon through a client object of its own, deleted when it returns; the
// exit status tells whether the call got the daemon's reply.
int requestDaemon(const std::function<void(VirelonService*)>& request, int line);
#define NORVIX_REQUEST_DAEMON(request) requestDaemon(request, __LINE__)

// The same through the daemon's settings service.
int requestSettings(const std::function<void(FeedSettingService*)>& request, int line);
#define NORVIX_REQUEST_SETTINGS(request) requestSettings(request, __LINE__)

#endif
