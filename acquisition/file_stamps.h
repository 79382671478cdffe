#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

namespace acquisition {

// The file stamp of each acquisition: a running number, or the local date and time.
class FileStamps {
public:
    using LocalClock = std::function<QDateTime()>;

    explicit FileStamps(LocalClock localClock = &QDateTime::currentDateTime);

    // Counter mode raises fileCounter and gives its decimal text (1, 2, ... 10, ...).
    // Date-and-time mode gives the 17 characters yyyyMMddhhmmss and milliseconds, every field
    // from one reading of the clock, the milliseconds truncated (000 to 999). A stamp never
    // repeats or goes back within the program's life: if the clock reads no later than the
    // last stamp (a clock step, or two stamps in one millisecond), the last stamp plus one
    // millisecond is used, so no file is overwritten by a later one of the same program run.
    QString nextFileStamp(bool useTimestamps);

    qint64 fileCounter() const { return fileCounter_; }

private:
    LocalClock localClock_;
    qint64 fileCounter_ = 0;
    QString lastStamp_;
};

QString dateTimeStamp(const QDateTime& localTime);

} // namespace acquisition
