#ifndef FEEDENCLOSUREFILES_H
#define FEEDENCLOSUREFILES_H

#include "feedenclosure.h"

#include <QList>
#include <QString>

// Removal of the local files of enclosures and channel icons. A stored local link is only a
// text that anyone may have written, so a file goes only when its real place, links and ".."
// resolved, lies inside VirelonPaths::enclosureDir(); anything else is left alone and logged.
namespace FeedEnclosureFiles {

// True when the absolute path (or file URL) names an entry inside the enclosure directory.
bool isInsideEnclosureDir(const QString& localPath);

// Removes the file and its unfinished download (the path plus ".part"). True when the path
// lies inside the enclosure directory and nothing of it is left there.
bool remove(const QString& localPath);

// The files of every enclosure of the list, in order.
void remove(const QList<FeedEnclosure>& enclosures);

} // namespace FeedEnclosureFiles

#endif
