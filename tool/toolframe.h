#ifndef TOOLFRAME_H
#define TOOLFRAME_H

#include <QDebug>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

class QDBusError;

// What every command of the tool shares: its output, the usage text, the attributes of the
// command line and the exit statuses.

using Attributes = QMap<QString, QString>;

namespace Element {
namespace Channel {
enum SubscriptionAction { Remove = 0, Add = 1 };
} // namespace Channel
} // namespace Element

// The process's exit status: a request done, a request that failed or named nothing stored,
// and a command line that asks for nothing the tool can do.
enum ExitStatus { Done = 0, Failed = 1, Misused = 2 };

// Every line goes out as a debug message on the standard error stream.
QDebug output();
// A command function's own signature, as its first line.
void trace(const char* signature);
// A line headed by the number of the source line that writes it.
QDebug diagnostic(int line);
#define NORVIX_DIAGNOSTIC diagnostic(__LINE__)

void printUsage();

// Program, object word, operation word, then the attributes.
const int FirstAttribute = 3;

// The argument at a position of the command line, empty past its end.
QString argument(int position);
// The argument at a position, lower-cased: object and operation words.
QString word(int position);

// The text before the first ':' and the text after it; without a ':' both are the whole text.
QStringList splitKeyValue(const QString& argument);
// Every attribute from position 3 on; a repeated key keeps its last value.
Attributes attributesFromArgs();
// The values of one key from position 3 on, in order; empty values left out when asked.
QStringList attributeValues(const QString& key, bool skipEmpty);
// The last value of the key, or of its last non-empty occurrence when asked; empty if absent.
QString lastAttribute(const QString& key, bool skipEmpty);
QList<QUrl> toUrlList(const QStringList& links);

// What a link sent to the daemon names: a stored record, or a feed's web address.
enum class LinkKind { Uri, WebAddress };
// Whether every link is a URL the tool can send as it is: one that QUrl takes in strict mode,
// with a scheme, and a web address with a host too. The first that is not gets a line naming it.
bool linksReadable(const QStringList& links, LinkKind kind, int line);
#define NORVIX_LINKS_READABLE(links, kind) linksReadable(links, kind, __LINE__)

// The status of a finished daemon call; a failed one is reported with the bus's error.
int daemonCallStatus(const QDBusError& error, int line);
#define NORVIX_DAEMON_CALL_STATUS(error) daemonCallStatus(error, __LINE__)

#endif
