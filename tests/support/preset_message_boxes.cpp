#include "tests/support/preset_message_boxes.h"

#include <QStringList>

namespace testing {

QStringList PresetMessageBoxes::texts() const {
    QStringList result;
    for (const Shown& box : shown_) {
        result << box.text;
    }
    return result;
}

int PresetMessageBoxes::unexpectedCount() const {
    int count = 0;
    for (const Shown& box : shown_) {
        count += box.unexpected ? 1 : 0;
    }
    return count;
}

windowing::Answer PresetMessageBoxes::show(QWidget* parent, const QString& title,
                                           const QString& text, windowing::Icon icon,
                                           windowing::Buttons buttons) {
    const auto first =
        (buttons == windowing::Buttons::YesNo || buttons == windowing::Buttons::YesNoCancel)
            ? windowing::Answer::Yes
            : windowing::Answer::Ok;
    return show(parent, title, text, icon, buttons, first);
}

windowing::Answer PresetMessageBoxes::show(QWidget*, const QString& title, const QString& text,
                                           windowing::Icon icon, windowing::Buttons buttons,
                                           windowing::Answer defaultAnswer) {
    const bool unexpected = answers_.empty();
    shown_.append(Shown{title, text, icon, buttons, defaultAnswer, unexpected});
    if (unexpected) {
        return fallback;
    }
    const auto next = answers_.front();
    answers_.pop_front();
    return next;
}

} // namespace testing
