#include "acquisition/event_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace acquisition {

void processPendingEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void processEventsFor(std::chrono::milliseconds maxWait) {
    processPendingEvents();
    if (maxWait <= std::chrono::milliseconds::zero()) {
        return;
    }
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(maxWait);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace acquisition
