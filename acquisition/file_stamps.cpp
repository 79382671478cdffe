#include "acquisition/file_stamps.h"

namespace acquisition {

namespace {
constexpr const char* StampFormat = "yyyyMMddHHmmsszzz";
}

FileStamps::FileStamps(LocalClock localClock) : localClock_(std::move(localClock)) {}

QString FileStamps::nextFileStamp(bool useTimestamps) {
    if (!useTimestamps) {
        ++fileCounter_;
        return QString::number(fileCounter_);
    }
    QString stamp = dateTimeStamp(localClock_());
    // Stamps of one run compare as text: a later one must be greater, also across a clock step
    // or the hour that repeats when daylight saving time ends.
    if (!lastStamp_.isEmpty() && stamp <= lastStamp_) {
        // Plain calendar arithmetic on the stamp's own fields, free of time-zone rules.
        const QDateTime last(QDate::fromString(lastStamp_.left(8), QStringLiteral("yyyyMMdd")),
                             QTime::fromString(lastStamp_.mid(8), QStringLiteral("HHmmsszzz")),
                             Qt::UTC);
        stamp = dateTimeStamp(last.addMSecs(1));
    }
    lastStamp_ = stamp;
    return stamp;
}

QString dateTimeStamp(const QDateTime& localTime) {
    // QDateTime holds whole milliseconds, so "zzz" is the truncated fraction of the second.
    return localTime.toString(QString::fromLatin1(StampFormat));
}

} // namespace acquisition
