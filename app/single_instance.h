#pragma once

#include <QLockFile>
#include <QString>

namespace app {

// At most one running program per user: a lock file held for the program's lifetime. A lock
// left behind by a process that no longer runs is taken over; a live holder is never broken,
// however long it has been running.
class SingleInstanceLock {
public:
    explicit SingleInstanceLock(const QString& path = defaultPath());

    // False when another running process holds the lock, or when the lock file cannot be made.
    bool tryAcquire();
    // After a failed tryAcquire: empty when a live instance holds the lock, otherwise what kept
    // the lock file from being made, naming it.
    QString failure() const;
    bool held() const { return lock_.isLocked(); }
    QString path() const { return path_; }

    // In the per-user runtime folder, named after the application.
    static QString defaultPath();

private:
    QString path_;
    QLockFile lock_;
};

} // namespace app
