#ifndef ENGINECOMMANDS_H
#define ENGINECOMMANDS_H

// "norvix error|state|transfer ...": what the daemon holds of failures, the device and one
// transfer, printed as it answers. Each returns the exit status.
int handleErrorOperations();
int printEngineState();
int handleTransferOperations();

#endif
