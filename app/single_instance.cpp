#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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

QString SingleInstanceLock::failure() const {
    if (lock_.isLocked() || lock_.error() == QLockFile::LockFailedError ||
        lock_.error() == QLockFile::NoError) {
        return {};
    }
    const QFileInfo folder(QFileInfo(path_).absolutePath());
    QString cause;
    if (!folder.isDir()) {
        cause = QStringLiteral("its folder does not exist");
    } else if (lock_.error() == QLockFile::PermissionError || !folder.isWritable()) {
        cause = QStringLiteral("its folder is not writable");
    } else {
        cause = QStringLiteral("the file could not be written; is the disk full?");
    }
    return QStringLiteral("Varnolt cannot make its lock file %1: %2")
        .arg(QDir::toNativeSeparators(path_), cause);
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
