#include "prefs/preference_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace prefs;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Makes every write beyond `bytes` fail with EFBIG for as long as it lives, whoever runs it.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

} // namespace

class TestPreferenceStore : public QObject {
    Q_OBJECT
private slots:
    void twentyKeysInTableOrder();
    void defaultsMeetTheirOwnRules();
    void parseInteger16_data();
    void parseInteger16();
    void parseBooleanText_data();
    void parseBooleanText();
    void valueRanges_data();
    void valueRanges();
    void brokenOrMissingTextLoadsTheDefault();
    void storedTextForms();
    void iniTextsReadBackThroughQSettings_data();
    void iniTextsReadBackThroughQSettings();
    void everyCharacterReadsBack();
    void writeAllWritesTheKeysInOrder();
    void otherKeysAndSectionsStay_data();
    void otherKeysAndSectionsStay();
    void fileStaysAsTheUserLeftIt_data();
    void fileStaysAsTheUserLeftIt();
    void writeAllCreatesTheFolder();
    void readSectionOfMissingFileIsEmpty();
    void readWithDefault();
    void readSectionIgnoresOtherSections();
    void readSectionJoinsHandEditedLists();
    void removeAllRemovesTheFileAndToleratesNone();
    void writeToDirectoryPathFails();
    void writeBelowAFileFails();
    void failedWriteLeavesTheOldFileWhole();
    void defaultFilePathFollowsXdgConfigHome();
};

void TestPreferenceStore::twentyKeysInTableOrder() {
    const QStringList expected = {
        "chkUseTimestamps", "hsDelay",       "chkAsk",         "chkStopAfter",    "txtAcqLimit",
        "chkWFM",           "txtWFMpath",    "txtWFMprefix",   "chkASCII",        "txtASCIIpath",
        "txtASCIIprefix",   "chkScreen",     "txtScreenPath",  "txtScreenPrefix", "chkRestoreRun",
        "cboFileType",      "optInksaverOn", "optInksaverOff", "optLandscape",    "optPortrait"};
    const QStringList defaults = {"1",        "0", "0",    "1",        "10", "1",    "D:\\",
                                  "my_ISFs_", "0", "D:\\", "my_CSVs_", "0",  "D:\\", "my_Images_",
                                  "1",        "1", "1",    "0",        "1",  "0"};
    QStringList keys;
    QStringList texts;
    for (const PreferenceKey& key : kPreferenceKeys) {
        keys << QLatin1String(key.key);
        texts << QLatin1String(key.defaultText);
    }
    QCOMPARE(keys, expected);
    QCOMPARE(texts, defaults);
}

void TestPreferenceStore::defaultsMeetTheirOwnRules() {
    for (const PreferenceKey& key : kPreferenceKeys) {
        QVERIFY2(parseValue(key.kind, QLatin1String(key.defaultText)).has_value(), key.key);
    }
}

void TestPreferenceStore::parseInteger16_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("one") << "1" << true << 1;
    QTest::newRow("blanks around") << " 2 " << true << 2;
    QTest::newRow("plus") << "+3" << true << 3;
    QTest::newRow("negative") << "-1" << true << -1;
    QTest::newRow("lowest") << "-32768" << true << -32768;
    QTest::newRow("highest") << "32767" << true << 32767;
    QTest::newRow("too high") << "32768" << false << 0;
    QTest::newRow("too low") << "-32769" << false << 0;
    QTest::newRow("huge") << "99999999999999999999" << false << 0;
    QTest::newRow("fraction") << "1.0" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("number then letters") << "1a" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blank") << " " << false << 0;
    QTest::newRow("hex") << "0x1" << false << 0;
}

void TestPreferenceStore::parseInteger16() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const auto parsed = prefs::parseInteger16(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(*parsed, value);
    }
}

void TestPreferenceStore::parseBooleanText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("value");
    QTest::newRow("True") << "True" << true << true;
    QTest::newRow("False") << "False" << true << false;
    QTest::newRow("true") << "true" << true << true;
    QTest::newRow("FALSE") << "FALSE" << true << false;
    QTest::newRow("tRuE with blanks") << " tRuE " << true << true;
    QTest::newRow("1") << "1" << true << true;
    QTest::newRow("0") << "0" << true << false;
    QTest::newRow("-1") << "-1" << true << true;
    QTest::newRow("0.0") << "0.0" << true << false;
    QTest::newRow("2.5") << "2.5" << true << true;
    QTest::newRow("0e5") << "0e5" << true << false;
    QTest::newRow("1e400") << "1e400" << true << true;
    QTest::newRow("yes") << "yes" << false << false;
    QTest::newRow("Truth") << "Truth" << false << false;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("inf") << "inf" << false << false;
    QTest::newRow("nan") << "nan" << false << false;
}

void TestPreferenceStore::parseBooleanText() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(bool, value);
    const auto parsed = prefs::parseBooleanText(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(*parsed, value);
    }
}

void TestPreferenceStore::valueRanges_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    const int check = int(PrefKind::CheckState);
    const int delay = int(PrefKind::Delay);
    const int index = int(PrefKind::FileTypeIndex);
    QTest::newRow("check 0") << check << "0" << true;
    QTest::newRow("check 2") << check << "2" << true;
    QTest::newRow("check 3") << check << "3" << false;
    QTest::newRow("check -1") << check << "-1" << false;
    QTest::newRow("delay 0") << delay << "0" << true;
    QTest::newRow("delay 60") << delay << "60" << true;
    QTest::newRow("delay 61") << delay << "61" << false;
    QTest::newRow("delay -1") << delay << "-1" << false;
    QTest::newRow("index -1") << index << "-1" << true;
    QTest::newRow("index 2") << index << "2" << true;
    QTest::newRow("index 3") << index << "3" << false;
    QTest::newRow("index -2") << index << "-2" << false;
    QTest::newRow("text anything") << int(PrefKind::Text) << "a \"b\" *" << true;
    QTest::newRow("option word") << int(PrefKind::Option) << "False" << true;
    QTest::newRow("option garbage") << int(PrefKind::Option) << "maybe" << false;
}

void TestPreferenceStore::valueRanges() {
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(parseValue(PrefKind(kind), text).has_value(), valid);
}

void TestPreferenceStore::brokenOrMissingTextLoadsTheDefault() {
    const PreferenceKey delay{"hsDelay", PrefKind::Delay, "0"};
    QCOMPARE(loadedValue(delay, QStringLiteral("15")), PreferenceValue(15));
    QCOMPARE(loadedValue(delay, QStringLiteral("61")), PreferenceValue(0));
    QCOMPARE(loadedValue(delay, std::nullopt), PreferenceValue(0));
    const PreferenceKey option{"optInksaverOn", PrefKind::Option, "1"};
    QCOMPARE(loadedValue(option, QStringLiteral("False")), PreferenceValue(false));
    QCOMPARE(loadedValue(option, QStringLiteral("no")), PreferenceValue(true));
    const PreferenceKey text{"txtWFMpath", PrefKind::Text, "D:\\"};
    QCOMPARE(loadedValue(text, QString()), PreferenceValue(QString()));
    QCOMPARE(loadedValue(text, std::nullopt), PreferenceValue(QStringLiteral("D:\\")));
}

void TestPreferenceStore::storedTextForms() {
    QCOMPARE(storedText(PreferenceValue(0)), QStringLiteral("0"));
    QCOMPARE(storedText(PreferenceValue(60)), QStringLiteral("60"));
    QCOMPARE(storedText(PreferenceValue(-1)), QStringLiteral("-1"));
    QCOMPARE(storedText(PreferenceValue(true)), QStringLiteral("True"));
    QCOMPARE(storedText(PreferenceValue(false)), QStringLiteral("False"));
    QCOMPARE(storedText(PreferenceValue(QStringLiteral(" 7"))), QStringLiteral(" 7"));
}

void TestPreferenceStore::iniTextsReadBackThroughQSettings_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("drive") << "D:\\";
    QTest::newRow("doubled backslashes") << "D:\\\\x\\\\";
    QTest::newRow("limit with blank") << " 10";
    QTest::newRow("trailing blank") << "ab ";
    QTest::newRow("comma") << "a,b";
    QTest::newRow("comma and blank") << "a, b";
    QTest::newRow("semicolon") << ";x";
    QTest::newRow("hash") << "#x";
    QTest::newRow("equals") << "a=b";
    QTest::newRow("quotes") << "\"quoted\"";
    QTest::newRow("at") << "@x";
    QTest::newRow("at variant") << "@Variant(abc)";
    QTest::newRow("at bytearray") << "@ByteArray(x)";
    QTest::newRow("brackets") << "[Prefs]";
    QTest::newRow("tab and line feed") << "a\tb\nc\rd";
    QTest::newRow("backslash then digit") << "\\0\\x41";
    QTest::newRow("non-ASCII") << QString::fromUtf8("D:\\Mess\u00fcngen_\u2713_\U0001F600");
    QTest::newRow("True") << "True";
}

void TestPreferenceStore::iniTextsReadBackThroughQSettings() {
    QFETCH(QString, text);
    QTemporaryDir dir;
    PreferenceStore store(dir.filePath("p.ini"));
    QVERIFY(store.writeAll({{"txtWFMprefix", text}, {"chkWFM", "1"}}));
    QCOMPARE(store.read("txtWFMprefix", "default"), text);
    QCOMPARE(store.read("chkWFM", "default"), QStringLiteral("1"));
}

void TestPreferenceStore::everyCharacterReadsBack() {
    // Every character that a text field can hold comes back from the file unchanged, alone,
    // at either end, and between others.
    QTemporaryDir dir;
    QList<std::pair<QString, QString>> values;
    for (int c = 1; c < 0x3000; ++c) {
        if (QChar::isSurrogate(char32_t(c))) {
            continue;
        }
        const QString ch(QChar{c});
        const QString key = QStringLiteral("u%1").arg(c, 4, 16, QLatin1Char('0'));
        values.append({key + u'a', ch});
        values.append({key + u'b', ch + u'1'});
        values.append({key + u'c', u'1' + ch});
        values.append({key + u'd', u'a' + ch + u'f'});
    }
    PreferenceStore store(dir.filePath("chars.ini"));
    QVERIFY(store.writeAll(values));
    const auto section = store.readSection();
    QCOMPARE(section.size(), values.size());
    for (const auto& [key, text] : values) {
        const QString back = section.value(key);
        if (back != text) {
            QFAIL(qPrintable(QStringLiteral("%1: \"%2\" came back as \"%3\"")
                                 .arg(key, text.toHtmlEscaped(), back.toHtmlEscaped())));
        }
    }
}

void TestPreferenceStore::writeAllWritesTheKeysInOrder() {
    QTemporaryDir dir;
    PreferenceStore store(dir.filePath("p.ini"));
    QVERIFY(store.writeAll({{"zeta", "1"}, {"alpha", "True"}, {"mid", "D:\\"}}));
    QCOMPARE(readFile(store.filePath()), QByteArray("[Prefs]\nzeta=1\nalpha=True\nmid=D:\\\\\n"));
    // Writing again puts the written keys first; the others stay after them.
    QVERIFY(store.writeAll({{"alpha", "False"}}));
    QCOMPARE(readFile(store.filePath()), QByteArray("[Prefs]\nalpha=False\nzeta=1\nmid=D:\\\\\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.ini"});
}

void TestPreferenceStore::otherKeysAndSectionsStay_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("new file") << QByteArray() << QByteArray("[Prefs]\nchkAsk=1\nchkWFM=0\n");
    QTest::newRow("sections before and after, a key of the user's, a repeat")
        << QByteArray("; mine\n[Window]\nx=5\n\n[Prefs]\nchkWFM=1\nnote=keep me\nchkAsk=0\n"
                      "chkAsk=2\n\n[Other]\ny=\"a,b\"\n")
        << QByteArray("; mine\n[Window]\nx=5\n\n[Prefs]\nchkAsk=1\nchkWFM=0\nnote=keep me\n\n"
                      "[Other]\ny=\"a,b\"\n");
    QTest::newRow("no section of its own yet")
        << QByteArray("[General]\nz=1\n")
        << QByteArray("[General]\nz=1\n\n[Prefs]\nchkAsk=1\nchkWFM=0\n");
}

void TestPreferenceStore::otherKeysAndSectionsStay() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    PreferenceStore store(dir.filePath("p.ini"));
    if (!before.isEmpty()) {
        QVERIFY(writeFile(store.filePath(), before));
    }
    QVERIFY(store.writeAll({{"chkAsk", "1"}, {"chkWFM", "0"}}));
    QCOMPARE(readFile(store.filePath()), after);
    store.removeAll(); // Defaults: only the program's own section goes
    if (before.isEmpty()) {
        QVERIFY(!QFileInfo::exists(store.filePath()));
    } else {
        QVERIFY(!readFile(store.filePath()).contains("[Prefs]"));
        QVERIFY(readFile(store.filePath()).contains("z=1") ||
                readFile(store.filePath()).contains("x=5"));
    }
}

// A link stays a link, the mode stays, and a file the user made read-only is refused whole.
void TestPreferenceStore::fileStaysAsTheUserLeftIt_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("mode 0640") << "mode";
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("link to a link, relative") << "chain";
    QTest::newRow("read-only") << "read-only";
    QTest::newRow("read-only behind a link") << "read-only link";
}

void TestPreferenceStore::fileStaysAsTheUserLeftIt() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("real"));
    const QString target = dir.filePath("real/Varnolt.ini");
    QVERIFY(writeFile(target, "[Prefs]\nchkAsk=0\n"));
    QString path = target;
    if (kind.contains("link")) {
        path = dir.filePath("Varnolt.ini");
        QVERIFY(QFile::link(target, path));
    } else if (kind == "chain") {
        path = dir.filePath("Varnolt.ini");
        QVERIFY(::symlink("real/Varnolt.ini", QFile::encodeName(dir.filePath("middle.ini"))) == 0);
        QVERIFY(::symlink("middle.ini", QFile::encodeName(path)) == 0);
    }
    const QFileDevice::Permissions mode =
        kind.startsWith("read-only") ? QFile::ReadOwner | QFile::ReadGroup
                                     : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(target, mode));

    PreferenceStore store(path);
    QString cause;
    const bool written = store.writeAll({{"chkAsk", "1"}}, &cause);
    QCOMPARE(QFileInfo(path).isSymLink(), path != target);
    QCOMPARE(QFile::permissions(target) & QFileDevice::Permissions(0x7077), mode);
    QCOMPARE(QDir(dir.filePath("real")).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Varnolt.ini"});
    if (kind.startsWith("read-only")) {
        QVERIFY(!written);
        // The caller names the file; the cause names a link's target.
        const QString readOnly = "he file is read-only; make it writable to save changes to it";
        QCOMPARE(cause, path == target ? "T" + readOnly : target + ": t" + readOnly);
        QCOMPARE(readFile(target), QByteArray("[Prefs]\nchkAsk=0\n"));
        store.removeAll();
        QCOMPARE(readFile(target), QByteArray("[Prefs]\nchkAsk=0\n"));
    } else {
        QVERIFY2(written, qPrintable(cause));
        QCOMPARE(readFile(target), QByteArray("[Prefs]\nchkAsk=1\n"));
    }
}

void TestPreferenceStore::writeAllCreatesTheFolder() {
    QTemporaryDir dir;
    PreferenceStore store(dir.filePath("config/Varnolt/Varnolt.ini"));
    QVERIFY(store.writeAll({{"chkAsk", "0"}}));
    QVERIFY(QFileInfo(store.filePath()).isFile());
}

void TestPreferenceStore::readSectionOfMissingFileIsEmpty() {
    QTemporaryDir dir;
    QVERIFY(PreferenceStore(dir.filePath("none.ini")).readSection().isEmpty());
    QVERIFY(PreferenceStore(dir.path()).readSection().isEmpty());
}

void TestPreferenceStore::readWithDefault() {
    QTemporaryDir dir;
    PreferenceStore store(dir.filePath("p.ini"));
    QCOMPARE(store.read("chkAsk", "0"), QStringLiteral("0"));
    QVERIFY(store.writeAll({{"chkAsk", "1"}}));
    QCOMPARE(store.read("chkAsk", "0"), QStringLiteral("1"));
    QCOMPARE(store.read("chkWFM", "x"), QStringLiteral("x"));
}

void TestPreferenceStore::readSectionIgnoresOtherSections() {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.ini");
    QVERIFY(writeFile(path, "[Other]\nchkAsk=2\n[Prefs]\nchkWFM=0\n"));
    const auto section = PreferenceStore(path).readSection();
    QCOMPARE(section.keys(), QStringList{"chkWFM"});
    QCOMPARE(section.value("chkWFM"), QStringLiteral("0"));
}

void TestPreferenceStore::readSectionJoinsHandEditedLists() {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.ini");
    QVERIFY(writeFile(path, "[Prefs]\ntxtWFMprefix=a,b\n"));
    QCOMPARE(PreferenceStore(path).read("txtWFMprefix", ""), QStringLiteral("a, b"));
}

void TestPreferenceStore::removeAllRemovesTheFileAndToleratesNone() {
    QTemporaryDir dir;
    PreferenceStore store(dir.filePath("p.ini"));
    store.removeAll();
    QVERIFY(store.writeAll({{"chkAsk", "1"}}));
    QVERIFY(QFileInfo::exists(store.filePath()));
    store.removeAll();
    QVERIFY(!QFileInfo::exists(store.filePath()));
    QVERIFY(store.readSection().isEmpty());
    store.removeAll();
}

void TestPreferenceStore::writeToDirectoryPathFails() {
    QTemporaryDir dir;
    PreferenceStore store(dir.path());
    QString cause;
    QVERIFY(!store.writeAll({{"chkAsk", "1"}}, &cause));
    QVERIFY(!cause.isEmpty());
    QVERIFY(QFileInfo(dir.path()).isDir());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void TestPreferenceStore::writeBelowAFileFails() {
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("plain"), "x"));
    PreferenceStore store(dir.filePath("plain/Varnolt.ini"));
    QString cause;
    QVERIFY(!store.writeAll({{"chkAsk", "1"}}, &cause));
    QVERIFY(cause.contains("plain"));
    QCOMPARE(readFile(dir.filePath("plain")), QByteArray("x"));
}

void TestPreferenceStore::failedWriteLeavesTheOldFileWhole() {
    QTemporaryDir dir;
    PreferenceStore store(dir.filePath("p.ini"));
    QVERIFY(store.writeAll({{"chkAsk", "1"}}));
    const QByteArray old = readFile(store.filePath());
    QList<std::pair<QString, QString>> many;
    for (int i = 0; i < 50; ++i) {
        many.append({QStringLiteral("key%1").arg(i), QString(40, u'x')});
    }
    bool written = true;
    QString cause;
    {
        const FileSizeLimit limit(256);
        written = store.writeAll(many, &cause);
    }
    QVERIFY(!written);
    QVERIFY(!cause.isEmpty());
    QCOMPARE(readFile(store.filePath()), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.ini"});
}

void TestPreferenceStore::defaultFilePathFollowsXdgConfigHome() {
    QTemporaryDir dir;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    const QString path = PreferenceStore::defaultFilePath();
    if (saved.isNull()) {
        qunsetenv("XDG_CONFIG_HOME");
    } else {
        qputenv("XDG_CONFIG_HOME", saved);
    }
    QCOMPARE(PreferenceStore::applicationName(), QStringLiteral("test_preference_store"));
    QCOMPARE(path, dir.path() + "/test_preference_store/test_preference_store.ini");
}

QTEST_GUILESS_MAIN(TestPreferenceStore)
#include "test_preference_store.moc"
