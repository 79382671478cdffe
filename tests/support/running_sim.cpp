#include "tests/support/running_sim.h"

#include <QDir>
#include <QFile>

namespace testing {

RunningSim::RunningSim(sim::SimConfig config) : config_(std::move(config)) {
    config_.root = root_.path().toStdString();
    for (std::size_t k = 0; k < config_.instruments.size(); ++k) {
        config_.instruments[k].logFile = logPath(static_cast<int>(k)).toStdString();
    }
    restart();
}

RunningSim::~RunningSim() {
    stop();
}

QString RunningSim::resource(int instrument) const {
    return QStringLiteral("TCPIP0::127.0.0.1::%1::SOCKET").arg(port(instrument));
}

QString RunningSim::vxi11Resource(int instrument) const {
    return QStringLiteral("TCPIP0::127.0.0.1::inst%1::INSTR").arg(instrument);
}

QString RunningSim::vxi11Attributes() const {
    return QStringLiteral("vxi11-port=%1").arg(vxi11Port_);
}

QString RunningSim::logPath(int instrument) const {
    return QDir(root_.path()).filePath(QStringLiteral("traffic-%1.log").arg(instrument));
}

QStringList RunningSim::traffic(int instrument) const {
    QFile log(logPath(instrument));
    if (!log.open(QIODevice::ReadOnly)) {
        return {};
    }
    // Each line: date, time, link, mark, text; ">" marks a message the instrument took.
    QStringList messages;
    for (const QString& line : QString::fromLatin1(log.readAll()).split('\n')) {
        const QStringList fields = line.split(' ');
        if (fields.size() >= 4 && fields[3] == QLatin1String(">")) {
            messages << line.section(' ', 4);
        }
    }
    return messages;
}

void RunningSim::stop() {
    if (server_) {
        server_->stop();
        server_.reset();
    }
}

void RunningSim::restart() {
    stop();
    sim::SimConfig config = config_;
    for (std::size_t k = 0; k < ports_.size() && k < config.instruments.size(); ++k) {
        config.instruments[k].port = ports_[k];
    }
    if (vxi11Port_ != 0) {
        config.vxi11Port = vxi11Port_;
    }
    server_ = std::make_unique<sim::ScopeServer>(config);
    server_->start();
    ports_ = server_->ports();
    vxi11Port_ = server_->vxi11Port();
}

ResourcesFile::ResourcesFile(const QStringList& lines) {
    QFile file(path());
    if (file.open(QIODevice::WriteOnly)) {
        file.write(lines.join('\n').toLatin1() + '\n');
    }
}

QString ResourcesFile::path() const {
    return QDir(dir_.path()).filePath("resources.conf");
}

} // namespace testing
