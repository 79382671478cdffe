#include "instrument/instrument_search.h"

#include <QStringList>

namespace instrument {

namespace {
constexpr int TimeoutSetting = 14;
constexpr int TraceSetting = 1;
constexpr int TimeoutMs = 300;
} // namespace

bool isSupportedIdentity(const QString& reply) {
    return reply.contains(QLatin1String("NQX8")) || reply.contains(QLatin1String("LVZ8"));
}

SearchResult findInstrument(quorix::QuorixControl& quorix, CommandProcedures& procedures,
                            const std::function<void(const QString&)>& showStatus,
                            const std::optional<QString>& onlyResource) {
    std::optional<QStringList> resources;
    try {
        quorix.setReportErrors(true);
        quorix.setSetting(TimeoutSetting, TimeoutMs);
        quorix.setSetting(TraceSetting, 0);
        resources = onlyResource ? std::optional<QStringList>(QStringList{*onlyResource})
                                 : quorix.ResourceList();
    } catch (...) {
        // The resource layer itself is unusable: as good as knowing no instrument.
        resources.reset();
    }
    if (!resources) {
        return {SearchResult::Outcome::NoResources, {}};
    }

    try {
        for (const QString& resource : *resources) {
            quorix.setResourceName(resource);
            showStatus(quorix.ResourceName());
            quorix.Clear();
            const QString reply = procedures.queryInstrument(QStringLiteral("*IDN?"));
            if (onlyResource ? !reply.isEmpty() : isSupportedIdentity(reply)) {
                showStatus(reply);
                quorix.Write(QStringLiteral("DESE 0"));
                quorix.Write(QStringLiteral("*ESE 0"));
                quorix.Write(QStringLiteral("*SRE 0"));
                quorix.Write(QStringLiteral("HEAD 0"));
                procedures.sendCommand(QStringLiteral("*CLS"));
                procedures.queryInstrument(QStringLiteral("ALLEV?"));
                return {SearchResult::Outcome::Ready, reply};
            }
        }
    } catch (...) {
        // Any failure while the candidates are tried ends the search without an instrument.
    }
    return {SearchResult::Outcome::NoneAccepted, quorix.ResourceName()};
}

} // namespace instrument
