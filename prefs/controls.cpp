#include "prefs/controls.h"

#include "prefs/input_rules.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <memory>

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
    first.partner_ = &second;
    second.partner_ = &first;
    QObject::connect(&first, &QAbstractButton::toggled, &second, [&first, &second](bool on) {
        if (on) {
            second.setChecked(false);
        }
        updateTabStops(first, second);
    });
    QObject::connect(&second, &QAbstractButton::toggled, &first, [&first, &second](bool on) {
        if (on) {
            first.setChecked(false);
        }
        updateTabStops(first, second);
    });
    updateTabStops(first, second);
}

void OptionButton::updateTabStops(OptionButton& first, OptionButton& second) {
    const bool firstStops = first.isChecked() || !second.isChecked();
    first.setFocusPolicy(firstStops ? Qt::StrongFocus : Qt::ClickFocus);
    second.setFocusPolicy(firstStops ? Qt::ClickFocus : Qt::StrongFocus);
}

void OptionButton::nextCheckState() {
    setChecked(true);
}

void OptionButton::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (partner_ && partner_->isEnabled()) {
            partner_->setFocus(Qt::TabFocusReason);
            partner_->click();
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QRadioButton::keyPressEvent(event);
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

// The shortcuts that edit without typing; the key rule would see them as control codes.
bool isEditingShortcut(const QKeyEvent& event) {
    for (const auto shortcut : {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Undo,
                                QKeySequence::Redo, QKeySequence::SelectAll}) {
        if (event.matches(shortcut)) {
            return true;
        }
    }
    return false;
}

} // namespace

RuleLineEdit::RuleLineEdit(QWidget* parent) : QLineEdit(parent) {}

void RuleLineEdit::setKeyRule(KeyRule rule) {
    keyRule_ = std::move(rule);
    setAcceptDrops(!keyRule_);
}

void RuleLineEdit::pasteThroughRule(const QString& text) {
    QList<int> codes;
    for (const char32_t code : text.toUcs4()) {
        codes.append(static_cast<int>(code));
    }
    const QString kept = filtered(codes).value_or(text);
    // As with typing: characters the rule discards are not inserted, and do not replace the
    // selection either.
    if (isReadOnly() || kept.isEmpty()) {
        return;
    }
    insert(kept);
}

void RuleLineEdit::contextMenuEvent(QContextMenuEvent* event) {
    if (!keyRule_) {
        QLineEdit::contextMenuEvent(event);
        return;
    }
    const std::unique_ptr<QMenu> menu(createStandardContextMenu());
    // The standard menu's Paste, known by its caption: Qt gives its actions no names.
    const QString paste = QLineEdit::tr("&Paste");
    for (QAction* action : menu->actions()) {
        if (action->text() == paste || action->text().startsWith(paste + u'\t')) {
            QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, this,
                    [this] { pasteThroughRule(QGuiApplication::clipboard()->text()); });
        }
    }
    menu->exec(event->globalPos());
}

void RuleLineEdit::mouseReleaseEvent(QMouseEvent* event) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (keyRule_ && event->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        setCursorPosition(cursorPositionAt(event->position().toPoint()));
        pasteThroughRule(clipboard->text(QClipboard::Selection));
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

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
    if (keyRule_ && event->matches(QKeySequence::Paste)) {
        pasteThroughRule(QGuiApplication::clipboard()->text());
        event->accept();
        return;
    }
    if (keyRule_ && isEditingShortcut(*event)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
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
