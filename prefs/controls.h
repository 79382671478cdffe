#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <functional>
#include <optional>
#include <utility>

// The standard controls of the option windows, with the behaviour the preference set needs
// that the Qt originals lack.
namespace prefs {

// Places a window of fixed size in the middle of the primary screen's free area.
void centreOnScreen(QWidget& window);

// The fixed twips layout of the option windows is measured for text in an 8-point font.
void useLayoutFont(QWidget& window);

// Makes a control of a fixed-layout window: its object name, place and tooltip. The control's
// own constructor arguments come first, the parent last, as Qt's controls take them.
template <typename Control, typename... Args>
Control* addControl(QWidget* parent, const char* name, const QRect& rect, const QString& toolTip,
                    Args&&... args) {
    auto* control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(QLatin1String(name));
    control->setToolTip(toolTip);
    control->setGeometry(rect);
    return control;
}

// A check box value as the preference set holds it: 0 unchecked, 1 checked, 2 greyed.
int checkValue(const QCheckBox& box);
void setCheckValue(QCheckBox& box, int value);

// A check box that can show a stored greyed value (2) but that the user only ever turns into
// 0 or 1: a click on a greyed box checks it, as on the other states it toggles.
class CheckBox final : public QCheckBox {
    Q_OBJECT
public:
    CheckBox(const QString& text, QWidget* parent);

protected:
    void nextCheckState() override;
};

// An option button whose exclusive group is kept by hand, so that a pair can also show
// neither member selected (possible only through stored values). Selecting one member clears
// its partner; clearing a member leaves the partner as it is. A click only ever selects.
// For the keyboard a pair is one group: Tab stops only at its selected member (at the first
// when neither is), and an arrow key selects the partner and gives it the focus.
class OptionButton final : public QRadioButton {
    Q_OBJECT
public:
    OptionButton(const QString& text, QWidget* parent);

    static void makeExclusive(OptionButton& first, OptionButton& second);

protected:
    void nextCheckState() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    static void updateTabStops(OptionButton& first, OptionButton& second);

    OptionButton* partner_ = nullptr;
};

// A horizontal scroll bar driven from the keyboard the way users of the platform's dialogs
// expect: Left and Up step down, Right and Down step up, Page Up and Page Down move a page,
// Home and End go to the ends. (Qt's scroll bar turns Right and Page Up into steps down.)
class ScrollBar final : public QScrollBar {
    Q_OBJECT
public:
    explicit ScrollBar(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A text field with a key rule for typed characters and a rule for losing the focus.
//
// The key rule sees the code of every character the user types (including the control codes
// that Ctrl+letter shortcuts stand for, and text committed by an input method) and may change
// it or discard it with 0. Keys that type no character (arrows, Delete, Home, End, Enter,
// Escape, Tab) pass untouched. Text set by the program sees no rule.
//
// The editing shortcuts (copy, cut, paste, undo, redo, select all) work as in any text field;
// pasted text, by shortcut, context menu or middle button, goes through the key rule character
// by character, as if typed. A field with a key rule takes no dropped text.
//
// The focus-loss rule runs when the focus moves from the field to another control of the same
// window; the window losing its activation is no focus loss.
class RuleLineEdit final : public QLineEdit {
    Q_OBJECT
public:
    using KeyRule = std::function<void(int& code)>;
    using FocusRule = std::function<void()>;

    explicit RuleLineEdit(QWidget* parent);

    void setKeyRule(KeyRule rule);
    void setFocusLossRule(FocusRule rule) { focusLossRule_ = std::move(rule); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Runs the key rule over every character; nothing when all of them pass unchanged.
    std::optional<QString> filtered(const QList<int>& codes) const;
    // Inserts text from the clipboard or the selection as if each character had been typed.
    void pasteThroughRule(const QString& text);

    KeyRule keyRule_;
    FocusRule focusLossRule_;
};

inline QPushButton* addButton(QWidget* parent, const char* name, const QString& text,
                              const QRect& rect, const QString& toolTip) {
    return addControl<QPushButton>(parent, name, rect, toolTip, text);
}

inline QGroupBox* addFrame(QWidget* parent, const char* name, const QString& title,
                           const QRect& rect, const QString& toolTip) {
    return addControl<QGroupBox>(parent, name, rect, toolTip, title);
}

inline OptionButton* addOption(QWidget* parent, const char* name, const QString& text,
                               const QRect& rect, const QString& toolTip) {
    return addControl<OptionButton>(parent, name, rect, toolTip, text);
}

} // namespace prefs
