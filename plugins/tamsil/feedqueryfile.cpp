#include "feedqueryfile.h"

#include <QDebug>

namespace FeedQueryFile {

const QString Rss = QStringLiteral("rss.xql");
const QString Atom = QStringLiteral("atom.xql");
const QString Rss10 = QStringLiteral("rss1_0.xql");

QString forFeed(const QString& contentType, const QString& rootName)
{
    if (contentType.contains(QLatin1String("application/rss+xml")))
        return rootName == QLatin1String("RDF") ? Rss10 : Rss;
    if (contentType.contains(QLatin1String("application/atom+xml")))
        return Atom;
    qDebug() << "Content type returned is unknown. Check if it is Rss/Atom feed,  Content-type : "
             << contentType;
    if (rootName == QLatin1String("RDF"))
        return Rss10;
    if (rootName == QLatin1String("rss"))
        return Rss;
    if (rootName == QLatin1String("feed"))
        return Atom;
    return QString();
}

} // namespace FeedQueryFile
