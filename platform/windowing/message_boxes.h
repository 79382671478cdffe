#pragma once

#include <QString>

class QWidget;

namespace windowing {

enum class Icon { None, Exclamation, Information, Critical, Question };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

// Every message box of the program goes through this one seam, so that tests can give the
// answer. The program uses QtMessageBoxes, which shows real, modal message boxes.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // `defaultAnswer` is the button that Enter presses; by default the first button.
    virtual Answer show(QWidget* parent, const QString& title, const QString& text, Icon icon,
                        Buttons buttons) = 0;
    virtual Answer show(QWidget* parent, const QString& title, const QString& text, Icon icon,
                        Buttons buttons, Answer defaultAnswer) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
public:
    Answer show(QWidget* parent, const QString& title, const QString& text, Icon icon,
                Buttons buttons) override;
    Answer show(QWidget* parent, const QString& title, const QString& text, Icon icon,
                Buttons buttons, Answer defaultAnswer) override;
};

} // namespace windowing
