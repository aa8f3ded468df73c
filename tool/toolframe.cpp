#include "toolframe.h"

#include <QCoreApplication>
#include <QDBusError>

namespace {

const QString Usage = QStringLiteral(
    "Usage: dravin {channel|message|enclosure|settings|error|signal} {insert|delete|delete-all|list|list-all|all} "
    "<data>\n"
    "Channel :\n"
    " norvix channel {subscribe|unsubscribe|insert|delete|delete-all|list|list-all|refresh|set-title|cancel}\n"
    "\t list   link:<uri>\n"
    "\t insert link:<value> [title:<value>] [description:<value>] [type:<value>] \n"
    "\t delete link:<uri> [link:<uri>]...\n"
    "\t delete-all\n"
    "\t refresh link:<uri> [link:<uri>]...\n"
    "\t idle link:<uri> [link:<uri>]...\n"
    "\t set-title link:<uri> [link:<uri>]...\n"
    "\t subscribe link:<uri> type:<pluginType>\n"
    "\t cancel link:<uri> [link:<uri>]...\n"
    "\n"
    "Message :\n"
    " norvix message {insert|delete|delete-all|list|list-all} channelUri:<uri-of-channel> ...\n"
    "\t list  link:<uri>\n"
    "\t insert     channel-uri:<uri-of-channel> link:<value> [title:<value>] [description:<value>] [type:<value>] \n"
    "\t delete     link:<uri> [link:<uri>]...\n"
    "\t delete-all channel-uri:<uri-of-channel>\n"
    "\t delete-all \n"
    "\n"
    "Enclosure:\n"
    " norvix enclosure {insert|delete} messageUri:<uri-of-message>\n"
    "\t insert message-uri:<uri-of-message> link:<value>\n"
    "\t delete link:<uri> [link:<uri>]......\n"
    "\t download enclosure-uri:<uri-of-enclosure> channel-uri:<uri-of-channel>\n"
    "\t cancel-download enclosure-uri:<uri-of-enclosure> channel-uri:<uri-of-channel>\n"
    "\t pause-download enclosure-uri:<uri-of-enclosure> channel-uri:<uri-of-channel>\n"
    "\t resume-download enclosure-uri:<uri-of-enclosure> channel-uri:<uri-of-channel>\n"
    "Settings:\n"
    " norvix settings {list|set} key:<value>\n"
    "Error:\n"
    " norvix error channel channel-uri\n"
    " norvix error channel all\n"
    " norvix error enclosure enclosure-uri\n"
    " norvix error enclosure all\n"
    " norvix channel edit uri:<uri> [link:<value>] [title:<title>]\n"
    " Signal:\n"
    " norvix signal all\n"
    " State:\n"
    " norvix state all");

} // namespace

// A logger without a source file: the tool's lines are told from the store's by that.
QDebug output()
{
    return QMessageLogger().debug();
}

void trace(const char* signature)
{
    output().noquote() << signature;
}

QDebug diagnostic(int line)
{
    QDebug stream = output();
    stream.noquote() << QStringLiteral("%1 :").arg(line, 6);
    return stream.quote();
}

void printUsage()
{
    trace("void printUsage()");
    output().noquote() << Usage;
}

QString argument(int position)
{
    return QCoreApplication::arguments().value(position);
}

QString word(int position)
{
    return argument(position).toLower();
}

QStringList splitKeyValue(const QString& argument)
{
    const int colon = argument.indexOf(QLatin1Char(':'));
    return {argument.left(colon), argument.mid(colon + 1)};
}

Attributes attributesFromArgs()
{
    trace("Attributes attributesFromArgs()");
    Attributes attributes;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = FirstAttribute; i < arguments.size(); ++i) {
        NORVIX_DIAGNOSTIC << "Parsing" << arguments.at(i);
        const QStringList pair = splitKeyValue(arguments.at(i));
        attributes.insert(pair.at(0), pair.at(1));
    }
    return attributes;
}

QStringList attributeValues(const QString& key, bool skipEmpty)
{
    QStringList values;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = FirstAttribute; i < arguments.size(); ++i) {
        const QStringList pair = splitKeyValue(arguments.at(i));
        if (pair.at(0) == key && !(skipEmpty && pair.at(1).isEmpty()))
            values.append(pair.at(1));
    }
    return values;
}

QString lastAttribute(const QString& key, bool skipEmpty)
{
    const QStringList values = attributeValues(key, skipEmpty);
    return values.isEmpty() ? QString() : values.last();
}

QList<QUrl> toUrlList(const QStringList& links)
{
    QList<QUrl> urls;
    for (const QString& link : links)
        urls.append(QUrl(link));
    return urls;
}

// A link QUrl cannot read would reach the daemon as an empty text.
bool linksReadable(const QStringList& links, LinkKind kind, int line)
{
    for (const QString& link : links) {
        const QUrl url(link, QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty() || (kind == LinkKind::WebAddress && url.host().isEmpty())) {
            diagnostic(line) << "Not a valid link :" << link;
            return false;
        }
    }
    return true;
}

int daemonCallStatus(const QDBusError& error, int line)
{
    if (!error.isValid())
        return Done;
    diagnostic(line) << "Daemon call failed :" << error.name() << error.message();
    return Failed;
}
