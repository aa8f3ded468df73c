#ifndef FEEDENCLOSURETARGET_H
#define FEEDENCLOSURETARGET_H

#include <QString>

// Whether the daemon may write, rename or delete a download's files. A local path comes from a
// store record or a fetched feed, so it is only text that anyone may have written: the final
// file and its ".part" must be plain entries inside VirelonPaths::enclosureDir().
class FeedEnclosureTarget
{
public:
    // True when the final path is absolute, has no ".." step, lies inside the enclosure
    // directory (its folders resolved), and neither it nor its ".part" is a symbolic link or a
    // name too long for the file system. Otherwise false, with the reason in *reason.
    static bool isAcceptable(const QString& finalPath, QString* reason = nullptr);

    static QString partPath(const QString& finalPath);
};

#endif
