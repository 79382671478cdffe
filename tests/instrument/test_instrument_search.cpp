#include "instrument/instrument_search.h"
#include "tests/instrument/fake_quorix.h"

#include <QtTest>

using Outcome = instrument::SearchResult::Outcome;
using testing::FakeQuorix;

namespace {

// The search with the procedures as they are at start-up: idle, so one attempt each.
instrument::SearchResult search(FakeQuorix& quorix, const std::optional<QString>& only = {}) {
    instrument::CommandProcedures procedures(
        quorix, [] { return true; }, [](double) {}, [] {});
    return instrument::findInstrument(
        quorix, procedures, [](const QString&) {}, only);
}

} // namespace

class TestInstrumentSearch : public QObject {
    Q_OBJECT
private slots:
    void whichRepliesNameASupportedFamily_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("supported");
        QTest::newRow("first tag alone") << "NQX8" << true;
        QTest::newRow("second tag in a field") << "x,y,LVZ8012,z" << true;
        QTest::newRow("inside a word") << "aNQX8b" << true;
        QTest::newRow("another digit") << "ORVANE,NQX7034" << false;
        QTest::newRow("second tag short") << "ORVANE,LVZ,1" << false;
        QTest::newRow("lower case") << "orvane,nqx8034" << false;
        QTest::newRow("split by a blank") << "NQX 8" << false;
        QTest::newRow("empty") << "" << false;
    }
    void whichRepliesNameASupportedFamily() {
        QFETCH(QString, reply);
        QFETCH(bool, supported);
        QCOMPARE(instrument::isSupportedIdentity(reply), supported);
    }

    // A resource named on the command line is taken on any reply, without the list.
    void aNamedResourceIsTakenOnAnyReply_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("outcome");
        QTest::newRow("other family") << "MAKER,MODEL,1,1.0" << int(Outcome::Ready);
        QTest::newRow("no reply") << "" << int(Outcome::NoneAccepted);
    }
    void aNamedResourceIsTakenOnAnyReply() {
        QFETCH(QString, reply);
        QFETCH(int, outcome);
        FakeQuorix quorix;
        quorix.resources = std::nullopt;
        quorix.idnOf = {{"ASRL1::INSTR", reply}};
        const auto result = search(quorix, QString("ASRL1::INSTR"));
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(quorix.count("ResourceList"), 0);
        QCOMPARE(quorix.count("Write"), outcome == int(Outcome::Ready) ? 4 + 1 : 0);
        QCOMPARE(result.text, outcome == int(Outcome::Ready) ? reply : QString("ASRL1::INSTR"));
    }
};

QTEST_GUILESS_MAIN(TestInstrumentSearch)
#include "test_instrument_search.moc"
