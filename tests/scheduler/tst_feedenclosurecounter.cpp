#include "feedenclosurecounter.h"
#include "testenvironment.h"

// Rows are steps on channels A and B: "+A3" adds 3, "-A" ends one download counted for the
// channel's last refresh, "~A" one counted for the refresh before, "xA" removes the entry. The result lists, per step, the refreshes it completed and the counts after it.
class tst_FeedEnclosureCounter : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
};

void tst_FeedEnclosureCounter::steps_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("three downloads, one completion") << QStringList{"+A3", "-A", "-A", "-A"}
                                                     << QStringList{"A3 B0", "A2 B0", "A1 B0", "done A A0 B0"};
    QTest::newRow("no entry, nothing completes") << QStringList{"-A", "+A0", "-A"} << QStringList{"A0 B0", "A0 B0", "A0 B0"};
    QTest::newRow("a second request adds up") << QStringList{"+A2", "-A", "+A2", "-A", "-A", "-A"}
                                              << QStringList{"A2 B0", "A1 B0", "A3 B0", "A2 B0", "A1 B0", "done A A0 B0"};
    QTest::newRow("removed: the rest completes nothing") << QStringList{"+A2", "+B1", "xA", "-A", "-B"}
                                                         << QStringList{"A2 B0", "A2 B1", "A0 B1", "A0 B1", "done B A0 B0"};
    QTest::newRow("one channel's end is not the other's") << QStringList{"+A1", "+B1", "-B", "-A"}
                                                          << QStringList{"A1 B0", "A1 B1", "done B A1 B0", "done A A0 B0"};
    // Regression: a download of a refresh that ended otherwise completed the next one early.
    QTest::newRow("an ended refresh's download is no later one's") << QStringList{"+A1", "xA", "+A1", "~A", "-A"}
                                                                   << QStringList{"A1 B0", "A0 B0", "A1 B0", "A1 B0", "done A A0 B0"};
}

void tst_FeedEnclosureCounter::steps()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, after);
    FeedEnclosureCounter counter;
    QHash<QString, QList<quint64>> tickets;
    QStringList results;
    for (const QString& step : steps) {
        const QString channel = step.mid(1, 1);
        const QList<quint64> given = tickets.value(channel) + QList<quint64>{0, 0};
        QString completed;
        QString ended;
        if (step.startsWith('+'))
            tickets[channel].prepend(counter.add(channel, step.mid(2).toInt()));
        else if (step.startsWith('x'))
            counter.remove(channel);
        else if (counter.decrease(given.at(step.startsWith('~') ? 1 : 0), &ended))
            completed = "done " + ended + ' ';
        results << completed + QStringLiteral("A%1 B%2").arg(counter.count("A")).arg(counter.count("B"));
    }
    QCOMPARE(results, after);
}

VIRELON_TEST_MAIN(tst_FeedEnclosureCounter)
#include "tst_feedenclosurecounter.moc"
