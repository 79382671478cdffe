// Every program of the package ignores SIGPIPE: a reset link or a closed output pipe ends in an
// error of that operation, never in the death of the program (exit status 141 in a shell).
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Runs `program` with its standard output a pipe that nobody reads any more, ends it with
// SIGTERM after `runMs` if it still runs, and returns its wait status.
int runIntoClosedPipe(const QString& program, const QStringList& arguments, int runMs) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return -1;
    }
    ::close(fds[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<std::string> words{program.toStdString()};
    for (const QString& argument : arguments) {
        words.push_back(argument.toStdString());
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    for (int waited = 0; waited < runMs; waited += 20) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return status;
        }
        QTest::qWait(20);
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
    return status;
}

bool ignoresSigpipe(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("SigIgn:")) {
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGPIPE - 1)) & 1u;
        }
    }
    return false;
}

} // namespace

class TestBrokenPipes : public QObject {
    Q_OBJECT
private slots:
    void toolsOutliveAClosedOutput_data() {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("lumetra-rm") << "LUMETRA_RM" << QStringList{"links"};
        QTest::newRow("scopesim") << "SCOPESIM" << QStringList{"--port", "0"};
    }
    void toolsOutliveAClosedOutput() {
        QFETCH(QString, variable);
        QFETCH(QStringList, arguments);
        QTemporaryDir root;
        const int status = runIntoClosedPipe(
            qEnvironmentVariable(qPrintable(variable)),
            variable == "SCOPESIM" ? arguments + QStringList{"--root", root.path()} : arguments,
            1000);
        QVERIFY2(!(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE),
                 qPrintable(variable + " died of SIGPIPE"));
        QVERIFY2(WIFEXITED(status) || (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM),
                 qPrintable(QString::number(status)));
    }

    void programIgnoresSigpipe() {
        QTemporaryDir home;
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", home.path());
        environment.insert("HOME", home.path());
        program.setProcessEnvironment(environment);
        program.start(qEnvironmentVariable("VARNOLT"), {});
        QVERIFY(program.waitForStarted());
        bool ignored = false;
        for (int k = 0; k < 250 && !ignored && program.state() == QProcess::Running; ++k) {
            QTest::qWait(20);
            ignored = ignoresSigpipe(program.processId());
        }
        program.kill();
        program.waitForFinished();
        QVERIFY(ignored);
    }
};

QTEST_GUILESS_MAIN(TestBrokenPipes)
#include "test_broken_pipes.moc"
