#ifndef FEEDENCLOSURETASK_H
#define FEEDENCLOSURETASK_H

#include "feedchanneltask.h"
#include "feedenclosure.h"
#include "feedtask.h"

// Downloading one enclosure of one channel. The bytes go to the final local path plus
// ".part", which becomes the final file only when the download succeeds.
class FeedEnclosureTask : public FeedTask
{
public:
    FeedEnclosureTask(Priority priority, const QString& channelUri, const FeedEnclosure& enclosure);

    Type type() override;
    // Compares with the channel's URI, never with the enclosure's own.
    bool matchesChannel(const QString& uri) override;
    QString channel() const { return _channelUri; }
    FeedEnclosure enclosure() const { return _enclosure; }
    // The ticket of the refresh whose count this download ends; 0 when it counts for none.
    quint64 refresh() const { return _refresh; }
    void countFor(quint64 refresh) { _refresh = refresh; }

    // A copy whose local path is the download target: the final path plus ".part".
    static FeedEnclosure tempFileEnclosure(const FeedEnclosure& enclosure);
    // Turns the ".part" file into the final file. A final file that appeared meanwhile is kept
    // and the ".part" goes. True when the final file is there afterwards; false, and nothing
    // touched, for a path FeedEnclosureTarget refuses.
    static bool renameTempFile(const FeedEnclosure& enclosure);
    // Removes the ".part" file, unless FeedEnclosureTarget refuses the path.
    static void deleteTempFile(const FeedEnclosure& enclosure);

private:
    const FeedEnclosure _enclosure;
    const QString _channelUri;
    quint64 _refresh = 0;
};

#endif
