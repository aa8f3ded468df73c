#ifndef CHANNELCOMMANDS_H
#define CHANNELCOMMANDS_H

#include "toolframe.h"

// "norvix channel ...": requests to the daemon, and the store's channel list and deletion.
// Each returns the exit status.
int handleChannelOperations();
int modifyChannelSubscription(Element::Channel::SubscriptionAction action);
int deleteAllChannels();
int listChannelInfo();
int listAllChannelInfo();
int refreshChannels();
int cancelChannelDownload();
int setChannelTitle();
int editChannelInfo();

#endif
