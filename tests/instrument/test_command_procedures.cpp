#include "instrument/command_procedures.h"
#include "tests/instrument/fake_quorix.h"

#include <QtTest>
#include <memory>

using testing::FakeQuorix;

namespace {

// The procedures with recording stand-ins for the run flag, the wait and the dot. Every call to
// the control, every wait and every dot lands in one log, in the order it happened.
struct Rig {
    FakeQuorix quorix;
    bool idle = false;
    QStringList log;
    std::function<void(int)> onWait; // given the wait's number (1, 2, ...)
    std::function<void(int)> onDot;
    int waits = 0;
    int dots = 0;
    instrument::CommandProcedures procedures{quorix, [this] { return idle; },
                                             [this](double seconds) {
                                                 log << QStringLiteral("wait %1").arg(seconds);
                                                 ++waits;
                                                 if (onWait) {
                                                     onWait(waits);
                                                 }
                                             },
                                             [this] {
                                                 log << QStringLiteral("dot");
                                                 ++dots;
                                                 if (onDot) {
                                                     onDot(dots);
                                                 }
                                             }};

    Rig() {
        quorix.setReportErrors(true);
        quorix.calls.clear();
        quorix.observer = [this](const FakeQuorix::Call& call) {
            if (call.member == QLatin1String("setReportErrors")) {
                log << QStringLiteral("ReportErrors ") + call.argument;
            } else {
                log << call.member + QLatin1Char(' ') + call.argument;
            }
        };
    }
};

} // namespace

class TestCommandProcedures : public QObject {
    Q_OBJECT
private slots:
    void successfulCommandIsSentOnceWithoutWaitOrDot() {
        for (const bool idle : {true, false}) {
            Rig rig;
            rig.idle = idle;
            rig.procedures.sendCommand("*CLS");
            QCOMPARE(rig.log, (QStringList{"ReportErrors off", "Write *CLS", "ReportErrors on"}));
            QVERIFY(rig.quorix.ReportErrors());
        }
    }

    void successfulQueryReturnsTheReplyWithoutWaitOrDot() {
        Rig rig;
        rig.quorix.replyTo["ALLEV?"] = "0,\"No events to report\"";
        QCOMPARE(rig.procedures.queryInstrument("ALLEV?"), QString("0,\"No events to report\""));
        QCOMPARE(rig.log, (QStringList{"ReportErrors off", "Query ALLEV?", "ReportErrors on"}));
    }

    void idleFailingCommandIsTriedOnce() {
        Rig rig;
        rig.idle = true;
        rig.quorix.failNext = 100;
        rig.procedures.sendCommand("*CLS");
        QCOMPARE(rig.log,
                 (QStringList{"ReportErrors off", "Write *CLS", "wait 0.1", "ReportErrors on"}));
        QVERIFY(rig.quorix.ReportErrors());
    }

    void idleFailingQueryIsTriedOnceAndReturnsItsReply() {
        Rig rig;
        rig.idle = true;
        rig.quorix.failNext = 100;
        rig.quorix.failedReply = [](int n) { return QStringLiteral("broken %1").arg(n); };
        QCOMPARE(rig.procedures.queryInstrument("*IDN?"), QString("broken 1"));
        QCOMPARE(rig.log,
                 (QStringList{"ReportErrors off", "Query *IDN?", "wait 0.1", "ReportErrors on"}));
    }

    void runningCommandIsRepeatedUntilItGoesThrough() {
        Rig rig;
        rig.quorix.failNext = 2;
        rig.procedures.sendCommand("ACQ:STATE 1");
        QCOMPARE(rig.log,
                 (QStringList{"ReportErrors off", "Write ACQ:STATE 1", "wait 0.1", "dot",
                              "ReportErrors off", "Write ACQ:STATE 1", "wait 0.1", "dot",
                              "ReportErrors off", "Write ACQ:STATE 1", "ReportErrors on"}));
    }

    void boundedCommandIsDroppedAfterItsAttempts() {
        Rig rig;
        rig.quorix.failingCommands = {"TRIG"};
        QVERIFY(!rig.procedures.sendCommandBounded("TRIG", 3));
        QCOMPARE(rig.log, (QStringList{"ReportErrors off", "Write TRIG", "wait 0.1", "dot",
                                       "ReportErrors off", "Write TRIG", "wait 0.1", "dot",
                                       "ReportErrors off", "Write TRIG", "ReportErrors on"}));
        rig.log.clear();
        rig.quorix.failNext = 1;
        QVERIFY(rig.procedures.sendCommandBounded("ACQ:STATE 0", 3));
        QCOMPARE(rig.quorix.count("Write"), 5);
    }

    void boundedCommandStillEndsWithTheRun() {
        Rig rig;
        rig.quorix.failingCommands = {"TRIG"};
        rig.onWait = [&](int) { rig.idle = true; };
        QVERIFY(!rig.procedures.sendCommandBounded("TRIG", 10));
        QCOMPARE(rig.quorix.count("Write"), 1);
    }

    void runningQueryIsRepeatedUntilItIsAnswered() {
        Rig rig;
        rig.quorix.failNext = 4;
        rig.quorix.replyTo["BUSY?"] = "1";
        QCOMPARE(rig.procedures.queryInstrument("BUSY?"), QString("1"));
        QCOMPARE(rig.quorix.count("Query"), 5);
        QCOMPARE(rig.waits, 4);
        QCOMPARE(rig.dots, 4);
        QVERIFY(rig.quorix.ReportErrors());
    }

    void stopDuringTheWaitEndsTheQueryWithTheReplyOfItsLastAttempt() {
        Rig rig;
        rig.quorix.failNext = 1000;
        rig.quorix.failedReply = [](int n) { return QStringLiteral("broken %1").arg(n); };
        rig.onWait = [&](int n) {
            if (n == 3) {
                rig.idle = true; // Stop pressed while the third pause yields
            }
        };
        QCOMPARE(rig.procedures.queryInstrument("BUSY?"), QString("broken 3"));
        QCOMPARE(rig.quorix.count("Query"), 3);
        QCOMPARE(rig.dots, 2);
        QVERIFY(rig.quorix.ReportErrors());
    }

    void stopDuringTheDotEndsTheCommandAtItsNextCheck() {
        Rig rig;
        rig.quorix.failNext = 1000;
        rig.onDot = [&](int n) {
            if (n == 2) {
                rig.idle = true;
            }
        };
        rig.procedures.sendCommand("ACQ:STATE 1");
        // The attempt after the dot still goes out; the check after its pause ends the loop.
        QCOMPARE(rig.quorix.count("Write"), 3);
        QCOMPARE(rig.waits, 3);
        QCOMPARE(rig.dots, 2);
        QVERIFY(rig.quorix.ReportErrors());
    }

    void commandSentDuringTheYieldEndsTheOuterCommand() {
        Rig rig;
        rig.quorix.failingCommands = {"SAV:WAVE:FILEF INTERNAL"};
        // Stop's handler: idle buttons come later; it sends a command that goes through.
        rig.onDot = [&](int) { rig.procedures.sendCommand("TRIG"); };
        rig.procedures.sendCommand("SAV:WAVE:FILEF INTERNAL");
        QCOMPARE(rig.quorix.trafficOf({"Write"}),
                 (QStringList{"Write SAV:WAVE:FILEF INTERNAL", "Write TRIG"}));
        QVERIFY(rig.quorix.ReportErrors());
    }

    void queryIsSentOnceMoreAfterACommandDuringTheYield() {
        Rig rig;
        rig.quorix.failingCommands = {"BUSY?"};
        rig.onDot = [&](int) {
            rig.procedures.sendCommand("TRIG");
            rig.idle = true;
        };
        rig.procedures.queryInstrument("BUSY?");
        QCOMPARE(rig.quorix.trafficOf({"Write", "Query"}),
                 (QStringList{"Query BUSY?", "Write TRIG", "Query BUSY?"}));
    }

    void everyAttemptIsMadeWithReportErrorsOff() {
        Rig rig;
        rig.quorix.failingCommands = {"BUSY?"};
        // The nested command turns the switch on as it ends.
        rig.onDot = [&](int n) {
            rig.procedures.sendCommand(QStringLiteral("TRIG %1").arg(n));
            if (n == 3) {
                rig.idle = true;
            }
        };
        rig.procedures.queryInstrument("BUSY?");
        int queries = 0;
        for (const FakeQuorix::Call& call : rig.quorix.calls) {
            if (call.member == QLatin1String("Query")) {
                ++queries;
                QVERIFY2(!call.reportErrors, "a query was made with ReportErrors on");
            }
        }
        QCOMPARE(queries, 4);
        QVERIFY(rig.quorix.ReportErrors());
    }

    void anErrorRaisedByAnAttemptCountsAsAFailure() {
        Rig rig;
        rig.quorix.raiseEvenWhenOff = true;
        rig.quorix.failNext = 1000;
        rig.quorix.failedReply = [](int) { return QStringLiteral("never seen"); };
        rig.onWait = [&](int n) {
            if (n == 3) {
                rig.idle = true;
            }
        };
        QString reply = "unset";
        try {
            reply = rig.procedures.queryInstrument("BUSY?");
        } catch (const quorix::Error&) {
            QFAIL("an error raised by the control escaped queryInstrument");
        }
        QCOMPARE(reply, QString());
        QCOMPARE(rig.quorix.count("Query"), 3);
        QVERIFY(rig.quorix.ReportErrors());

        rig.idle = false;
        rig.waits = 0;
        rig.quorix.failNext = 2;
        try {
            rig.procedures.sendCommand("TRIG");
        } catch (const quorix::Error&) {
            QFAIL("an error raised by the control escaped sendCommand");
        }
        QCOMPARE(rig.quorix.count("Write"), 3);
        QCOMPARE(rig.quorix.LastStatus(), 0);
        QVERIFY(rig.quorix.ReportErrors());
    }
};

QTEST_GUILESS_MAIN(TestCommandProcedures)
#include "test_command_procedures.moc"
