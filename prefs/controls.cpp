#include "prefs/controls.h"

#include "prefs/input_rules.h"

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QScreen>

namespace prefs {

void centreOnScreen(QWidget& window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    QRect frame(QPoint(), window.size());
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void useLayoutFont(QWidget& window) {
    // The fixed layout was drawn for a narrow sans face of 8 points; Liberation Sans has its
    // widths. Where it is missing the desktop's own face stands in, and long captions may clip.
    QFont font = window.font();
    font.setFamilies({QStringLiteral("Liberation Sans"), font.family()});
    font.setPointSize(8);
    window.setFont(font);
}

int checkValue(const QCheckBox& box) {
    switch (box.checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

void setCheckValue(QCheckBox& box, int value) {
    switch (value) {
    case 0:
        box.setCheckState(Qt::Unchecked);
        break;
    case 1:
        box.setCheckState(Qt::Checked);
        break;
    default:
        box.setCheckState(Qt::PartiallyChecked);
        break;
    }
}

CheckBox::CheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    setTristate(true);
}

void CheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

OptionButton::OptionButton(const QString& text, QWidget* parent) : QRadioButton(text, parent) {
    setAutoExclusive(false);
}

void OptionButton::makeExclusive(OptionButton& first, OptionButton& second) {
    QObject::connect(&first, &QAbstractButton::toggled, &second, [&second](bool on) {
        if (on) {
            second.setChecked(false);
        }
    });
    QObject::connect(&second, &QAbstractButton::toggled, &first, [&first](bool on) {
        if (on) {
            first.setChecked(false);
        }
    });
}

void OptionButton::nextCheckState() {
    setChecked(true);
}

ScrollBar::ScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {}

void ScrollBar::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QScrollBar::keyPressEvent(event);
        return;
    }
    SliderAction action = SliderNoAction;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        action = SliderSingleStepSub;
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        action = SliderSingleStepAdd;
        break;
    case Qt::Key_PageUp:
        action = SliderPageStepSub;
        break;
    case Qt::Key_PageDown:
        action = SliderPageStepAdd;
        break;
    case Qt::Key_Home:
        action = SliderToMinimum;
        break;
    case Qt::Key_End:
        action = SliderToMaximum;
        break;
    default:
        QScrollBar::keyPressEvent(event);
        return;
    }
    triggerAction(action);
    event->accept();
}

namespace {

// The character codes a key press types, or nothing for keys that type no character.
std::optional<QList<int>> typedCodes(const QKeyEvent& event) {
    const int key = event.key();
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    // With Alt too, Ctrl is part of AltGr and the key types its text.
    const bool control =
        modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier);
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return std::nullopt;
    case Qt::Key_Backspace:
        return QList<int>{control ? 127 : kBackspace};
    default:
        break;
    }
    if (key >= Qt::Key_Escape && key != Qt::Key_unknown) {
        return std::nullopt;
    }
    const QString text = event.text();
    if (control) {
        if (!text.isEmpty() && isControlCode(text.front().unicode())) {
            return QList<int>{text.front().unicode()};
        }
        if (key >= 0x20 && key < 0x80) {
            return QList<int>{key & 0x1f};
        }
        return QList<int>{0};
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    QList<int> codes;
    for (const char32_t code : text.toUcs4()) {
        codes.append(static_cast<int>(code));
    }
    return codes;
}

} // namespace

RuleLineEdit::RuleLineEdit(QWidget* parent) : QLineEdit(parent) {}

std::optional<QString> RuleLineEdit::filtered(const QList<int>& codes) const {
    bool changed = false;
    QList<char32_t> kept;
    for (const int code : codes) {
        int result = code;
        keyRule_(result);
        if (result != code || result == 0) {
            changed = true;
        }
        if (result > 0) {
            kept.append(static_cast<char32_t>(result));
        }
    }
    if (!changed) {
        return std::nullopt;
    }
    return QString::fromUcs4(kept.constData(), kept.size());
}

void RuleLineEdit::keyPressEvent(QKeyEvent* event) {
    const auto codes = keyRule_ ? typedCodes(*event) : std::nullopt;
    const auto text = codes ? filtered(*codes) : std::nullopt;
    if (!text) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (text->isEmpty()) {
        event->accept();
        return;
    }
    const QChar first = text->front();
    const int key = text->size() == 1 && first.unicode() < 0x80 ? first.toUpper().unicode()
                                                                : int(Qt::Key_unknown);
    QKeyEvent replaced(event->type(), key, event->modifiers(), *text, event->isAutoRepeat(),
                       static_cast<quint16>(event->count()));
    QLineEdit::keyPressEvent(&replaced);
    event->setAccepted(replaced.isAccepted());
}

void RuleLineEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    std::optional<QString> text;
    if (keyRule_ && !commit.isEmpty()) {
        QList<int> codes;
        for (const char32_t code : commit.toUcs4()) {
            codes.append(static_cast<int>(code));
        }
        text = filtered(codes);
    }
    if (!text) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent replaced(event->preeditString(), event->attributes());
    replaced.setCommitString(*text, event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&replaced);
    event->setAccepted(replaced.isAccepted());
}

void RuleLineEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // By now the application's focus widget is the one that took the focus.
    const QWidget* next = QApplication::focusWidget();
    if (focusLossRule_ && next && next != this && next->window() == window()) {
        focusLossRule_();
    }
}

} // namespace prefs
