#include "keywords.h"

namespace Keyword {

const QString Uri = QStringLiteral("uri");
const QString Link = QStringLiteral("link");
const QString Title = QStringLiteral("title");
const QString Description = QStringLiteral("description");
const QString Channel = QStringLiteral("channel");
const QString Type = QStringLiteral("type");
const QString ChannelUri = QStringLiteral("channel-uri");
const QString Message = QStringLiteral("message");
const QString PublishedDate = QStringLiteral("published-date");
const QString Enclosure = QStringLiteral("enclosure");
const QString EnclosureUri = QStringLiteral("enclosure-uri");
const QString MessageUri = QStringLiteral("message-uri");
const QString Settings = QStringLiteral("settings");
const QString Error = QStringLiteral("error");
const QString Signal = QStringLiteral("signal");
const QString State = QStringLiteral("state");
const QString Transfer = QStringLiteral("transfer");
const QString Subscribe = QStringLiteral("subscribe");
const QString Unsubscribe = QStringLiteral("unsubscribe");
const QString Insert = QStringLiteral("insert");
const QString Delete = QStringLiteral("delete");
const QString DeleteAll = QStringLiteral("delete-all");
const QString List = QStringLiteral("list");
const QString ListAll = QStringLiteral("list-all");
const QString All = QStringLiteral("all");
const QString Refresh = QStringLiteral("refresh");
const QString SetTitle = QStringLiteral("set-title");
const QString Set = QStringLiteral("set");
const QString Cancel = QStringLiteral("cancel");
const QString Edit = QStringLiteral("edit");
const QString Download = QStringLiteral("download");
const QString CancelDownload = QStringLiteral("cancel-download");
const QString PauseDownload = QStringLiteral("pause-download");
const QString ResumeDownload = QStringLiteral("resume-download");
const QString Help = QStringLiteral("help");

} // namespace Keyword
