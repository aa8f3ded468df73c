#ifndef KEYWORDS_H
#define KEYWORDS_H

#include <QString>

// The words of the command line. Object and operation words are compared with the lower-cased
// argument, attribute keys exactly.
namespace Keyword {

extern const QString Uri;
extern const QString Link;
extern const QString Title;
extern const QString Description;
extern const QString Channel;
extern const QString Type;
extern const QString ChannelUri;
extern const QString Message;
extern const QString PublishedDate;
extern const QString Enclosure;
extern const QString EnclosureUri;
extern const QString MessageUri;
extern const QString Settings;
extern const QString Error;
extern const QString Signal;
extern const QString State;
extern const QString Transfer;
extern const QString Subscribe;
extern const QString Unsubscribe;
extern const QString Insert;
extern const QString Delete;
extern const QString DeleteAll;
extern const QString List;
extern const QString ListAll;
extern const QString All;
extern const QString Refresh;
extern const QString SetTitle;
extern const QString Set;
extern const QString Cancel;
extern const QString Edit;
extern const QString Download;
extern const QString CancelDownload;
extern const QString PauseDownload;
extern const QString ResumeDownload;
extern const QString Help;

} // namespace Keyword

#endif
