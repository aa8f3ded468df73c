#ifndef DOMDUMP_H
#define DOMDUMP_H

#include <QDomDocument>
#include <QString>

namespace DomDump {

// A stable one-line text of a node and everything below it: attributes sorted by name,
// namespaced elements as {uri}name, text nodes quoted (so an empty one shows as ""),
// CDATA as [[...]]. A null node gives an empty string.
QString dump(const QDomNode& node);

// The first element inside an <item> that declares the prefixes the tests use, read with
// namespace processing as the loader reads feeds. The document holds the element alive.
QDomElement itemChild(QDomDocument& document, const QString& body);

} // namespace DomDump

#endif
