#ifndef BENCHDAEMON_H
#define BENCHDAEMON_H

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>

class QObject;
class QProcess;
class QTextStream;

// What the benchmarks that drive the daemon over the session bus share.
namespace BenchDaemon {

extern const QString Service;

// Standard output, where the figures go.
QTextStream& out();
// HOME, the XDG folders and the daemon's own folders below the root, for this process and the
// programs it starts; tamsil and its query files from the build tree.
void isolate(const QString& root, const QString& tamsilDir);
// Connects the daemon's signal of that name to the receiver's slot, given as SLOT(...) gives it.
bool listen(const QString& name, QObject* receiver, const char* slot);
// Runs this process's events until done() holds or ms have passed; whether it holds.
bool waitUntil(const std::function<bool()>& done, int ms);
// Calls the daemon and waits with events running, so that what this process serves is served
// meanwhile; the first value of the answer in *answer.
bool callDaemon(const QString& method, const QVariantList& arguments, QVariant* answer = nullptr);
// Waits until the daemon owns its name; false when it ended or took over 30 s.
bool waitForService(QProcess& daemon);
// The end of the daemon's log and why the benchmark stopped, on standard error; the exit status.
int fail(const QString& why, const QString& daemonLog = QString());
// A field of /proc/<pid>/status in KiB; 0 when the process is gone.
qint64 statusKb(qint64 pid, const QByteArray& field);

} // namespace BenchDaemon

#endif
