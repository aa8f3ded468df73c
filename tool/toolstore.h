#ifndef TOOLSTORE_H
#define TOOLSTORE_H

#include <QString>

class FeedTrackerSparql;

// The tool's own store object. Nothing else in the tool's process hears of the enclosures that
// the store deletes, so their files are removed here.
namespace ToolStore {

// The store, or null, with a diagnostic, when its service cannot be reached.
FeedTrackerSparql* open(int line);

// Whether a channel of that URI is stored; a line saying so when it is not.
bool channelExists(FeedTrackerSparql* store, const QString& channelUri);
// Whether a message of that URI is stored; a line saying so when it is not or the store fails.
bool messageExists(FeedTrackerSparql* store, const QString& messageUri, int line);

} // namespace ToolStore

#define NORVIX_OPEN_STORE ToolStore::open(__LINE__)

#endif
