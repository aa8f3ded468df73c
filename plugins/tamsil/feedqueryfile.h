#ifndef FEEDQUERYFILE_H
#define FEEDQUERYFILE_H

#include <QString>

// Which query file converts a feed: by the content type where it names a feed format, else by
// the feed's root element.
namespace FeedQueryFile {

extern const QString Rss;
extern const QString Atom;
extern const QString Rss10;

// The file name, or an empty string when the feed is not recognised.
QString forFeed(const QString& contentType, const QString& rootName);

} // namespace FeedQueryFile

#endif
