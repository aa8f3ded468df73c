#ifndef MESSAGECOMMANDS_H
#define MESSAGECOMMANDS_H

// "norvix message ...": messages written to and deleted from the store, without the daemon.
// Each returns the exit status.
int handleMessageOperations();
int insertMessages();
int deleteMessages();
int deleteAllMessages();
int listMessageInfo();
int listAllMessageInfo();

#endif
