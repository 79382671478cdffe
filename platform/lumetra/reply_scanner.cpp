#include "platform/lumetra/reply_scanner.h"

#include <algorithm>

namespace lumetra {

std::size_t ReplyScanner::scan(std::string_view bytes) {
    std::size_t i = scanned_;
    const std::size_t n = bytes.size();
    while (i < n) {
        const char c = bytes[i];
        switch (state_) {
        case State::Text:
            if (c == '\n') {
                elementStart_ = inUnitHeader_ = true;
                scanned_ = i + 1;
                return scanned_;
            }
            if (elementStart_ && (c == '"' || c == '\'')) {
                state_ = State::Quoted;
                quote_ = c;
                elementStart_ = inUnitHeader_ = false;
            } else if (elementStart_ && c == '#') {
                state_ = State::Hash;
                elementStart_ = inUnitHeader_ = false;
            } else if (c == ',') {
                elementStart_ = true;
                inUnitHeader_ = false;
            } else if (c == ';') {
                elementStart_ = inUnitHeader_ = true;
            } else if (c == ' ' || c == '\t') {
                // Blanks after a separator keep the element's start; the first blank after a
                // unit's first word ends its header.
                if (!elementStart_ && inUnitHeader_) {
                    elementStart_ = true;
                    inUnitHeader_ = false;
                }
            } else {
                elementStart_ = false;
            }
            ++i;
            break;
        case State::Quoted:
            if (c == quote_) {
                state_ = State::QuoteClosing;
            }
            ++i;
            break;
        case State::QuoteClosing:
            // A doubled quote is a quote inside the string; anything else is looked at as text.
            if (c == quote_) {
                state_ = State::Quoted;
                ++i;
            } else {
                state_ = State::Text;
            }
            break;
        case State::Hash:
            if (c >= '1' && c <= '9') {
                digitsDue_ = static_cast<std::size_t>(c - '0');
                payloadDue_ = 0;
                state_ = State::LengthDigits;
                ++i;
            } else if (c == '0') {
                state_ = State::Indefinite;
                ++i;
            } else {
                state_ = State::Text;
            }
            break;
        case State::LengthDigits:
            if (c >= '0' && c <= '9') {
                payloadDue_ = payloadDue_ * 10 + static_cast<std::size_t>(c - '0');
                ++i;
                if (--digitsDue_ == 0) {
                    state_ = State::Payload;
                    if (payloadDue_ == 0) {
                        state_ = State::Text;
                        afterLastBlock_ = i;
                    }
                }
            } else {
                state_ = State::Text; // not a block after all; this byte is text
            }
            break;
        case State::Payload: {
            const std::size_t step = std::min(payloadDue_, n - i);
            i += step;
            payloadDue_ -= step;
            if (payloadDue_ == 0) {
                state_ = State::Text;
                afterLastBlock_ = i;
            }
            break;
        }
        case State::Indefinite:
            if (c == '\n') {
                state_ = State::Text;
                continue;
            }
            ++i;
            break;
        }
    }
    scanned_ = i;
    return 0;
}

bool ReplyScanner::take(std::string& pending, std::string& reply) {
    const std::size_t length = scan(pending);
    if (length == 0) {
        return false;
    }
    std::size_t end = length - 1;
    if (end > afterLastBlock_ && pending[end - 1] == '\r') {
        --end;
    }
    reply.assign(pending, 0, end);
    pending.erase(0, length);
    reset();
    return true;
}

std::size_t scpiMessageLength(std::string_view bytes, std::size_t* afterLastBlock) {
    ReplyScanner scanner;
    const std::size_t length = scanner.scan(bytes);
    if (afterLastBlock) {
        *afterLastBlock = length ? scanner.afterLastBlock() : 0;
    }
    return length;
}

} // namespace lumetra
