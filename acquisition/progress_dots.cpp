#include "acquisition/progress_dots.h"

namespace acquisition {

QString withProgressDot(const QString& statusText) {
    QString text = statusText + QLatin1Char('.');
    if (text.contains(QLatin1String(".........."))) {
        text.chop(9);
    }
    return text;
}

} // namespace acquisition
