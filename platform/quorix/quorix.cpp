#include "platform/quorix/quorix.h"

#include <iostream>
#include <optional>

namespace quorix {

namespace {

constexpr int TimeoutSetting = 14;
constexpr int TraceSetting = 1;
// VISA's status for a message that cannot be formatted for the link.
constexpr std::int32_t ErrorInvalidFormat = static_cast<std::int32_t>(0xBFFF003Fu);

QString textOf(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The link carries Latin-1 bytes; any other character would go out replaced by "?", which on
// an instrument's drive names another file or none.
std::optional<QString> unsendableCharacterIn(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).unicode() > 0xFF) {
            const char32_t code = text.at(i).isHighSurrogate() && i + 1 < text.size()
                                      ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1))
                                      : text.at(i).unicode();
            return QStringLiteral("\"%1\" holds %2 (U+%3), which cannot be sent to the "
                                  "instrument; use Latin-1 characters only")
                .arg(text, QString::fromUcs4(&code, 1),
                     QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0')));
        }
    }
    return std::nullopt;
}

} // namespace

Quorix::Quorix(lumetra::ResourceManager resources, lumetra::TransportFactory transports,
               std::ostream* trace)
    : resources_(std::move(resources)), transports_(std::move(transports)),
      traceStream_(trace ? trace : &std::cerr) {}

Quorix::~Quorix() = default;

void Quorix::fail(std::int32_t status, const QString& text) {
    traceLine("failed", QString::number(status) + " " + text);
    if (reportErrors_) {
        throw Error(status, text);
    }
}

void Quorix::traceLine(const char* what, const QString& text) {
    if (traceEnabled_) {
        *traceStream_ << "quorix: " << what << ": " << text.toStdString() << std::endl;
    }
}

void Quorix::setSetting(int id, int value) {
    if (id == TimeoutSetting) {
        if (value < 0 || value > 32767) {
            fail(lumetra::status::ErrorAttributeStateNotSupported,
                 QStringLiteral("the I/O timeout must be 0 to 32767 ms, not %1").arg(value));
            return;
        }
        timeout_ = std::chrono::milliseconds(value);
        if (session_) {
            session_->setTimeout(timeout_);
        }
    } else if (id == TraceSetting) {
        traceEnabled_ = value != 0;
    } else {
        fail(lumetra::status::ErrorAttributeNotSupported,
             QStringLiteral("setting %1 is not supported").arg(id));
    }
}

std::optional<QStringList> Quorix::ResourceList() {
    QStringList names;
    for (const std::string& name : resources_.listResources()) {
        names << textOf(name);
    }
    if (names.isEmpty()) {
        return std::nullopt;
    }
    return names;
}

void Quorix::setResourceName(const QString& name) {
    session_.reset();
    resourceName_ = name;
    try {
        // The session takes the link settings configured for this resource, if any.
        auto resource = lumetra::ResourceName::parse(name.toStdString());
        auto attributes = resources_.attributesOf(resource.canonical());
        session_ = std::make_unique<lumetra::Session>(std::move(resource), timeout_, transports_,
                                                      std::move(attributes));
        session_->setTrace([this](const std::string& line) { traceLine("link", textOf(line)); });
    } catch (const lumetra::Error& error) {
        fail(error.code(), textOf(error.what()));
    }
}

void Quorix::Clear() {
    if (!session_) {
        fail(lumetra::status::ErrorInvalidObject, QStringLiteral("no resource is selected"));
        return;
    }
    try {
        session_->clear();
        traceLine("clear", resourceName_);
    } catch (const lumetra::Error& error) {
        fail(error.code(), textOf(error.what()));
    }
}

void Quorix::Write(const QString& command) {
    lastStatus_ = lumetra::status::Success;
    if (!session_) {
        lastStatus_ = lumetra::status::ErrorInvalidObject;
        fail(lastStatus_, QStringLiteral("no resource is selected"));
        return;
    }
    if (const auto refusal = unsendableCharacterIn(command)) {
        lastStatus_ = ErrorInvalidFormat;
        fail(lastStatus_, *refusal);
        return;
    }
    traceLine("write", command);
    try {
        session_->write(command.toLatin1().toStdString());
    } catch (const lumetra::Error& error) {
        lastStatus_ = error.code();
        fail(lastStatus_, textOf(error.what()));
    }
}

QString Quorix::Query(const QString& query) {
    lastStatus_ = lumetra::status::Success;
    if (!session_) {
        lastStatus_ = lumetra::status::ErrorInvalidObject;
        fail(lastStatus_, QStringLiteral("no resource is selected"));
        return {};
    }
    if (const auto refusal = unsendableCharacterIn(query)) {
        lastStatus_ = ErrorInvalidFormat;
        fail(lastStatus_, *refusal);
        return {};
    }
    traceLine("query", query);
    try {
        QString reply = textOf(session_->query(query.toLatin1().toStdString()));
        traceLine("reply", reply);
        return reply;
    } catch (const lumetra::Error& error) {
        lastStatus_ = error.code();
        fail(lastStatus_, textOf(error.what()));
        return {};
    }
}

} // namespace quorix
