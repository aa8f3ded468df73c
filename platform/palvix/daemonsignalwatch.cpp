#include "daemonsignalwatch.h"

#include <QDBusMessage>
#include <QSocketNotifier>
#include <QStringList>
#include <dbus/dbus.h>

namespace {

const char* const Interface = "com.vorlane.Virelon";
const char* const MatchRule =
    "type='signal',sender='com.vorlane.Virelon',path='/',interface='com.vorlane.Virelon'";

QDBusError busError(const DBusError& error)
{
    return QDBusError(QDBusMessage::createError(QString::fromUtf8(error.name), QString::fromUtf8(error.message)));
}

// The argument types of the daemon's signals; any other reads as an invalid value.
QVariant readArgument(DBusMessageIter* iterator)
{
    switch (dbus_message_iter_get_arg_type(iterator)) {
    case DBUS_TYPE_STRING: {
        const char* text = nullptr;
        dbus_message_iter_get_basic(iterator, &text);
        return QString::fromUtf8(text);
    }
    case DBUS_TYPE_INT32: {
        dbus_int32_t number = 0;
        dbus_message_iter_get_basic(iterator, &number);
        return int(number);
    }
    case DBUS_TYPE_INT64: {
        dbus_int64_t number = 0;
        dbus_message_iter_get_basic(iterator, &number);
        return qlonglong(number);
    }
    case DBUS_TYPE_ARRAY: {
        if (dbus_message_iter_get_element_type(iterator) != DBUS_TYPE_STRING)
            return QVariant();
        QStringList texts;
        DBusMessageIter element;
        dbus_message_iter_recurse(iterator, &element);
        for (; dbus_message_iter_get_arg_type(&element) == DBUS_TYPE_STRING; dbus_message_iter_next(&element))
            texts.append(readArgument(&element).toString());
        return texts;
    }
    default:
        return QVariant();
    }
}

QVariantList readArguments(DBusMessage* message)
{
    QVariantList arguments;
    DBusMessageIter iterator;
    if (!dbus_message_iter_init(message, &iterator))
        return arguments;
    do
        arguments.append(readArgument(&iterator));
    while (dbus_message_iter_next(&iterator));
    return arguments;
}

} // namespace

// libdbus calls these with the watch as user data.
struct WatchCallbacks
{
    static dbus_bool_t add(DBusWatch* watch, void* watcher)
    {
        static_cast<DaemonSignalWatch*>(watcher)->addWatch(watch);
        return TRUE;
    }
    static void remove(DBusWatch* watch, void* watcher) { static_cast<DaemonSignalWatch*>(watcher)->removeWatch(watch); }
    static void toggle(DBusWatch* watch, void* watcher) { static_cast<DaemonSignalWatch*>(watcher)->toggleWatch(watch); }

    // A signal sent to this connection alone is not the daemon's broadcast: only broadcasts
    // pass the bus's match on the service name.
    static DBusHandlerResult filter(DBusConnection*, DBusMessage* message, void* watcher)
    {
        // The bus library's own word that the connection closed.
        if (dbus_message_is_signal(message, DBUS_INTERFACE_LOCAL, "Disconnected")) {
            emit static_cast<DaemonSignalWatch*>(watcher)->busDisconnected();
            return DBUS_HANDLER_RESULT_HANDLED;
        }
        if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_SIGNAL || dbus_message_get_destination(message)
            || !dbus_message_has_interface(message, Interface) || !dbus_message_has_path(message, "/"))
            return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
        emit static_cast<DaemonSignalWatch*>(watcher)->received(QString::fromUtf8(dbus_message_get_member(message)),
                                                                QString::fromUtf8(dbus_message_get_signature(message)),
                                                                readArguments(message));
        return DBUS_HANDLER_RESULT_HANDLED;
    }

    // Messages that came in during a blocking call wait for the event loop.
    static void dispatchStatus(DBusConnection*, DBusDispatchStatus status, void* watcher)
    {
        if (status == DBUS_DISPATCH_DATA_REMAINS)
            QMetaObject::invokeMethod(static_cast<DaemonSignalWatch*>(watcher), &DaemonSignalWatch::dispatch,
                                      Qt::QueuedConnection);
    }
};

DaemonSignalWatch::DaemonSignalWatch(QObject* parent)
    : QObject(parent), _connection(nullptr)
{
}

DaemonSignalWatch::~DaemonSignalWatch()
{
    if (!_connection)
        return;
    // The notifiers are children: they go with this object.
    dbus_connection_remove_filter(_connection, WatchCallbacks::filter, this);
    dbus_connection_set_dispatch_status_function(_connection, nullptr, nullptr, nullptr);
    dbus_connection_set_watch_functions(_connection, nullptr, nullptr, nullptr, nullptr, nullptr);
    dbus_connection_close(_connection);
    dbus_connection_unref(_connection);
}

QDBusError DaemonSignalWatch::start()
{
    dbus_threads_init_default();
    DBusError error;
    dbus_error_init(&error);
    _connection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (_connection) {
        // A lost bus ends the watch, not the process.
        dbus_connection_set_exit_on_disconnect(_connection, FALSE);
        dbus_connection_add_filter(_connection, WatchCallbacks::filter, this, nullptr);
        dbus_bus_add_match(_connection, MatchRule, &error);
    }
    if (dbus_error_is_set(&error)) {
        const QDBusError failure = busError(error);
        dbus_error_free(&error);
        return failure;
    }
    dbus_connection_set_watch_functions(_connection, WatchCallbacks::add, WatchCallbacks::remove,
                                        WatchCallbacks::toggle, this, nullptr);
    dbus_connection_set_dispatch_status_function(_connection, WatchCallbacks::dispatchStatus, this, nullptr);
    WatchCallbacks::dispatchStatus(_connection, dbus_connection_get_dispatch_status(_connection), this);
    return QDBusError();
}

void DaemonSignalWatch::addWatch(DBusWatch* watch)
{
    const int socket = dbus_watch_get_unix_fd(watch);
    const unsigned int flags = dbus_watch_get_flags(watch);
    const auto add = [&](QSocketNotifier::Type type, unsigned int condition) {
        auto* notifier = new QSocketNotifier(socket, type, this);
        notifier->setEnabled(dbus_watch_get_enabled(watch));
        connect(notifier, &QSocketNotifier::activated, this, [this, watch, condition] { handleWatch(watch, condition); });
        _notifiers.insert(watch, notifier);
    };
    if (flags & DBUS_WATCH_READABLE)
        add(QSocketNotifier::Read, DBUS_WATCH_READABLE);
    if (flags & DBUS_WATCH_WRITABLE)
        add(QSocketNotifier::Write, DBUS_WATCH_WRITABLE);
}

// Called from inside a notifier's own activation as well: it goes once that has returned.
void DaemonSignalWatch::removeWatch(DBusWatch* watch)
{
    for (QSocketNotifier* notifier : _notifiers.values(watch)) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    _notifiers.remove(watch);
}

void DaemonSignalWatch::toggleWatch(DBusWatch* watch)
{
    for (QSocketNotifier* notifier : _notifiers.values(watch))
        notifier->setEnabled(dbus_watch_get_enabled(watch));
}

// One read of the socket, then what it brought: the rest waits until the event loop comes back.
void DaemonSignalWatch::handleWatch(DBusWatch* watch, unsigned int condition)
{
    dbus_watch_handle(watch, condition);
    dispatch();
}

void DaemonSignalWatch::dispatch()
{
    while (_connection && dbus_connection_dispatch(_connection) == DBUS_DISPATCH_DATA_REMAINS) {
    }
}
