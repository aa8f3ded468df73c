#ifndef LOOPWAITS_H
#define LOOPWAITS_H

#include <QString>

class HttpFixture;

// How long a large request keeps the other clients of the daemon's one event loop waiting, each
// on a daemon and a store of its own below the root. A figure given is lowered to this run's when
// that is lower, so that the best of several runs counts. False, said on standard error, on failure.
namespace LoopWaits {

const int LargeFeedItems = 100000;
const int ManyUris = 10000;

// Times to answer, in ms.
struct ManyUriAnswers {
    // A refresh of ManyUris stored channels, then a cancelRefresh of them.
    double refreshMs;
    double cancelMs;
    // A refresh of ManyUris URIs of channels the store does not hold (any more).
    double unknownRefreshMs;
};

// The longest wait for an answer to conf, asked at a steady pace, while the daemon handles the
// subscription of a feed of LargeFeedItems items; and the time from it to the feed's end.
bool largeFeed(const QString& link, const QString& root, double* longestWaitMs, double* feedMs);
// The answers to requests of ManyUris URIs, on a store of as many channels.
bool manyUris(const HttpFixture& server, const QString& root, ManyUriAnswers* answers);

} // namespace LoopWaits

#endif
