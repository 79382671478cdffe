#pragma once

#include "instrument/command_procedures.h"
#include "platform/quorix/quorix_control.h"

#include <QString>
#include <functional>
#include <optional>

namespace instrument {

struct SearchResult {
    enum class Outcome {
        Ready,        // an instrument answered and has been prepared
        NoResources,  // the resource layer knows no resource
        NoneAccepted, // no resource answered as a supported instrument, or the control failed
    };
    Outcome outcome;
    // Ready: the identification reply. NoneAccepted: the resource tried last.
    QString text;
};

// The start-up's instrument search: the control's settings, then each resource the control
// lists is cleared and asked "*IDN?" until one reply carries a supported model-family tag;
// that instrument gets the initial commands. `showStatus` sees each resource name as it is
// tried and the accepted reply.
//
// With `onlyResource`, the list is not read: that resource alone is tried, and any reply to
// "*IDN?" accepts it.
SearchResult findInstrument(quorix::QuorixControl& quorix, CommandProcedures& procedures,
                            const std::function<void(const QString&)>& showStatus,
                            const std::optional<QString>& onlyResource = std::nullopt);

// Whether an identification reply names a supported model family.
bool isSupportedIdentity(const QString& reply);

} // namespace instrument
