#include "daemoncall.h"

#include <QDBusConnection>

namespace DaemonCall {

const QString Service = QStringLiteral("com.vorlane.Virelon");
const QString Path = QStringLiteral("/");
const QString Interface = QStringLiteral("com.vorlane.Virelon");

QDBusMessage call(const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, Interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, TimeoutMs);
}

} // namespace DaemonCall
