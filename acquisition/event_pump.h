#pragma once

#include <chrono>

namespace acquisition {

// The yield: delivers every pending event, including events that were posted before the
// handler now running was entered. The GLib event dispatcher does not hand those to a nested
// processEvents() when that handler was itself started from a posted event, so they are sent
// explicitly first.
void processPendingEvents();

// processPendingEvents(), then sleeps until more events arrive or `maxWait` has passed and
// processes what arrived.
void processEventsFor(std::chrono::milliseconds maxWait);

} // namespace acquisition
