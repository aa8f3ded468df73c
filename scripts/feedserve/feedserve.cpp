// Serves one feed file on 127.0.0.1 for the README's run command, which reaches the daemon only
// through its public interfaces: this program is the web server of the feed, nothing more. It
// prints the feed's URL and serves until it is stopped.

#include "httpfixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: feedserve <feed file>\n";
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "feedserve: cannot read " << file.fileName() << '\n';
        return 1;
    }
    HttpFixture server;
    server.serve(QStringLiteral("/feed.xml"), file.readAll(), "application/rss+xml");
    QTextStream(stdout) << server.url(QStringLiteral("/feed.xml")).toString() << Qt::endl;
    return app.exec();
}
