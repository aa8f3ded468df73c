#ifndef ENCLOSURECOMMANDS_H
#define ENCLOSURECOMMANDS_H

// "norvix enclosure ...": enclosure records written to and deleted from the store, and the
// daemon's enclosure downloads. Each returns the exit status.
int handleEnclosureOperations();
int insertEnclosures();
int deleteEnclosures();
int downloadEnclosure();
int cancelDownloadEnclosure();
int pauseDownloadEnclosure();
int resumeDownloadEnclosure();

#endif
