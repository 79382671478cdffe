#include "acquisition/monotonic_clock.h"
#include "acquisition/progress_dots.h"
#include "acquisition/timed_wait.h"

#include <QtTest>
#include <chrono>
#include <cmath>
#include <limits>

using namespace std::chrono_literals;
using acquisition::withProgressDot;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

namespace {

class FakeClock final : public acquisition::MonotonicClock {
public:
    explicit FakeClock(nanoseconds start = 5s) : now_(start) {}
    nanoseconds now() const override {
        ++reads;
        return now_;
    }
    void advance(nanoseconds by) { now_ += by; }
    mutable int reads = 0;

private:
    nanoseconds now_;
};

// A wait driven entirely by the fake clock: "processing events" lets fake time pass, the whole
// bounded wait unless an event is scripted to arrive earlier.
struct WaitRig {
    FakeClock clock;
    QList<milliseconds> pumpWaits;
    int dots = 0;
    milliseconds eventEvery{0}; // >0: an event wakes every pass after this long
    QList<QString> order;

    explicit WaitRig(nanoseconds start = 5s) : clock(start) {}

    acquisition::TimedWait wait() {
        return acquisition::TimedWait(
            clock,
            [this] {
                ++dots;
                order << "dot";
            },
            [this](milliseconds maxWait) {
                pumpWaits << maxWait;
                order << "events";
                clock.advance(eventEvery > 0ms ? std::min(eventEvery, maxWait) : maxWait);
            });
    }
    // How long the wait lasted on the fake clock.
    nanoseconds run(double seconds) {
        const nanoseconds start = clock.now();
        wait().waitSeconds(seconds);
        return clock.now() - start;
    }
};

} // namespace

class TestProgressAndWait : public QObject {
    Q_OBJECT
private slots:
    void dotsCountOneToNineAndStartOver() {
        QString text = "3: Waiting for Acquisition";
        for (int n = 1; n <= 9; ++n) {
            text = withProgressDot(text);
            QCOMPARE(text, "3: Waiting for Acquisition" + QString(n, '.'));
        }
        text = withProgressDot(text);
        QCOMPARE(text, QString("3: Waiting for Acquisition."));
        text = withProgressDot(text);
        QCOMPARE(text, QString("3: Waiting for Acquisition.."));
    }

    void dotOnAnEmptyLine() {
        QCOMPARE(withProgressDot(""), QString("."));
        QCOMPARE(withProgressDot("........."), QString("."));
    }

    void aTenDotMarkAnywhereCutsTheLastNineCharacters() {
        QCOMPARE(withProgressDot("a..........bcdefghijk"), QString("a..........bc"));
        QCOMPARE(withProgressDot("a.........b"), QString("a.........b."));
    }

    void zeroOrNegativeWaitReturnsAtOnce() {
        for (const double seconds : {0.0, -1.0, -0.001, std::nan("")}) {
            WaitRig rig;
            rig.wait().waitSeconds(seconds);
            QCOMPARE(rig.pumpWaits.size(), 0);
            QCOMPARE(rig.dots, 0);
            QCOMPARE(rig.clock.reads, 0);
        }
    }

    void shortWaitsShowNoDots() {
        for (const double seconds : {0.1, 1.0}) {
            WaitRig rig;
            const nanoseconds lasted = rig.run(seconds);
            QCOMPARE(rig.dots, 0);
            QVERIFY(!rig.pumpWaits.isEmpty());
            QVERIFY(lasted > std::chrono::duration<double>(seconds));
        }
    }

    void longWaitShowsADotOnEveryPass() {
        WaitRig rig;
        const nanoseconds lasted = rig.run(1.5);
        QVERIFY(lasted > 1500ms);
        QVERIFY(lasted <= 1500ms + acquisition::DefaultPassInterval + 1ms);
        QVERIFY(rig.dots >= 1500 / acquisition::DefaultPassInterval.count());
        QCOMPARE(rig.dots, rig.pumpWaits.size());
        for (int k = 0; k < rig.order.size(); k += 2) {
            QCOMPARE(rig.order.mid(k, 2), (QList<QString>{"dot", "events"}));
        }
    }

    void passesAreBoundedByTheIntervalAndTheTimeLeft() {
        WaitRig rig;
        rig.run(0.1);
        QCOMPARE(rig.pumpWaits, (QList<milliseconds>{40ms, 40ms, 21ms}));
    }

    void eventsDoNotEndTheWaitEarly() {
        WaitRig rig;
        rig.eventEvery = 3ms;
        const nanoseconds lasted = rig.run(1.2);
        QVERIFY(lasted > 1200ms);
        QVERIFY(lasted <= 1203ms);
        QCOMPARE(rig.dots, rig.pumpWaits.size());
        QVERIFY(rig.dots >= 400);
    }

    void aWaitAcrossMidnightOfTheTimeOfDayLastsItsLength() {
        // The clock does not know the time of day: a wait that would once have started half a
        // second before midnight lasts its two seconds like any other.
        for (const nanoseconds start :
             {nanoseconds(86399500ms), nanoseconds(0),
              nanoseconds(std::numeric_limits<std::int64_t>::max() / 2)}) {
            WaitRig rig(start);
            const nanoseconds lasted = rig.run(2.0);
            QVERIFY(lasted > 2s);
            QVERIFY(lasted <= 2s + acquisition::DefaultPassInterval + 1ms);
        }
    }

    void theSteadyClockNeverGoesBack() {
        acquisition::SteadyClock clock;
        nanoseconds last = clock.now();
        for (int k = 0; k < 1000; ++k) {
            const nanoseconds now = clock.now();
            QVERIFY(now >= last);
            last = now;
        }
    }
};

QTEST_GUILESS_MAIN(TestProgressAndWait)
#include "test_progress_and_wait.moc"
