#ifndef TESTENVIRONMENT_H
#define TESTENVIRONMENT_H

#include <QByteArray>
#include <QTemporaryDir>
#include <QtTest>

// Gives a test program its own HOME and XDG folders, so that settings, stores and files
// never touch the user's; the folders go away with the program. No bearer answers for the
// host's network interfaces. The transfer-list library is the built one.
class TestEnvironment
{
public:
    TestEnvironment();

    QString root() const { return _root.path(); }
    // A folder below the root, made if missing.
    QString path(const QString& relative) const;

    // From the call on, a "QObject::connect: No such signal/slot" warning fails the running
    // test: string-based connections are interfaces. Call it in initTestCase().
    static void failOnConnectWarnings();

private:
    QTemporaryDir _root;
};

// A test main that sets up the environment before the application object exists.
#define VIRELON_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        TestEnvironment environment;                                                               \
        QCoreApplication app(argc, argv);                                                          \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

#endif
