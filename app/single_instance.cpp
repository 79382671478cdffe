#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace app {

SingleInstanceLock::SingleInstanceLock(const QString& path) : path_(path), lock_(path) {
    // The default stale time would let a second start break the lock of a first instance that
    // has simply been running for a while; with 0 only a dead holder's lock is taken over.
    lock_.setStaleLockTime(0);
}

bool SingleInstanceLock::tryAcquire() {
    return lock_.isLocked() || lock_.tryLock(0);
}

QString SingleInstanceLock::defaultPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty()) {
        name = QStringLiteral("Varnolt");
    }
    return QDir(folder).filePath(name + QStringLiteral(".lock"));
}

} // namespace app
