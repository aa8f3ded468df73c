#ifndef SIGNALCOMMANDS_H
#define SIGNALCOMMANDS_H

// "norvix signal all": prints the daemon's signals as they come, until the process is stopped.
// Returns the exit status when the watch cannot begin.
int handleSignalOperations();

#endif
