#pragma once

#include "platform/windowing/message_boxes.h"

#include <QList>
#include <QString>
#include <deque>

namespace testing {

// Answers message boxes from a queue that the test fills, and records every box it was asked
// to show. A box with no preset answer is recorded as unexpected and answered with `fallback`.
class PresetMessageBoxes final : public windowing::MessageBoxes {
public:
    struct Shown {
        QString title;
        QString text;
        windowing::Icon icon;
        windowing::Buttons buttons;
        windowing::Answer defaultAnswer;
        bool unexpected;
    };

    void answer(windowing::Answer next) { answers_.push_back(next); }
    const QList<Shown>& shown() const { return shown_; }
    QStringList texts() const;
    int unexpectedCount() const;
    windowing::Answer fallback = windowing::Answer::Ok;

    windowing::Answer show(QWidget* parent, const QString& title, const QString& text,
                           windowing::Icon icon, windowing::Buttons buttons) override;
    windowing::Answer show(QWidget* parent, const QString& title, const QString& text,
                           windowing::Icon icon, windowing::Buttons buttons,
                           windowing::Answer defaultAnswer) override;

private:
    std::deque<windowing::Answer> answers_;
    QList<Shown> shown_;
};

} // namespace testing
