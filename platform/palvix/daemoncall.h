#ifndef DAEMONCALL_H
#define DAEMONCALL_H

#include <QDBusMessage>
#include <QString>
#include <QVariantList>

// One blocking call of the daemon's interface on the session bus.
namespace DaemonCall {

extern const QString Service;
extern const QString Path;
extern const QString Interface;

// A slot of the daemon may hold its reply while it opens a network connection (up to 300 s):
// the wait outlasts that, so that a slow answer is never taken for a failure.
const int TimeoutMs = 310000;

// The reply, or an error message when the call failed or timed out.
QDBusMessage call(const QString& method, const QVariantList& arguments = QVariantList());

} // namespace DaemonCall

#endif
