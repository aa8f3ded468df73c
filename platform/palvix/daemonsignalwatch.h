#ifndef DAEMONSIGNALWATCH_H
#define DAEMONSIGNALWATCH_H

#include <QDBusError>
#include <QMultiHash>
#include <QObject>
#include <QString>
#include <QVariantList>

class QSocketNotifier;
struct DBusConnection;
struct DBusWatch;

// The daemon's signals on a session-bus connection of its own, read in this thread's event
// loop. A reader that falls behind leaves what it has not read with the bus, so its memory
// stays bounded however fast the daemon emits. The bus matches the service name: only its
// owner is heard, and a daemon that starts later is heard too.
class DaemonSignalWatch : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(DaemonSignalWatch)

public:
    explicit DaemonSignalWatch(QObject* parent = nullptr);
    ~DaemonSignalWatch() override;

    // Connects and asks the bus for the signals; the bus's error when that fails.
    QDBusError start();

signals:
    // One signal of the daemon: its name, its D-Bus signature and its arguments.
    void received(const QString& member, const QString& signature, const QVariantList& arguments);
    // The bus went away: nothing will come any more.
    void busDisconnected();

private:
    friend struct WatchCallbacks;

    void addWatch(DBusWatch* watch);
    void removeWatch(DBusWatch* watch);
    void toggleWatch(DBusWatch* watch);
    void handleWatch(DBusWatch* watch, unsigned int condition);
    void dispatch();

    DBusConnection* _connection;
    QMultiHash<DBusWatch*, QSocketNotifier*> _notifiers;
};

#endif
