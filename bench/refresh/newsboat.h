#ifndef NEWSBOAT_H
#define NEWSBOAT_H

#include <QString>
#include <QStringList>

// Debian's newsboat, the reference: two reloads of the same feeds from this process's server,
// with one reload thread, on a fresh cache.
namespace Newsboat {

struct Reloads {
    double firstMs = 0;
    double secondMs = 0;
    // newsboat's own count of what it holds after them.
    QString unread;
};

// Installs the package when it is missing (root or sudo); false when it is still missing.
bool installed();
// Both reloads, in a fresh folder below the root; false, said on standard error, when one failed.
bool reload(const QStringList& links, const QString& root, Reloads* reloads);

} // namespace Newsboat

#endif
