#include "platform/lumetra/reply_scanner.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumetra {

namespace {

// The bytes that can change the state of plain text; a run of any others is skipped at once.
constexpr std::array<bool, 256> textSpecials = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {'\n', '"', '\'', '#', ',', ';', ' ', '\t'}) {
        table[c] = true;
    }
    return table;
}();

// The first `c` in [p, end), or end: eight bytes a step while none of them can be it (a word
// XORed with `c` has a zero byte exactly where it holds `c`).
const char* findByte(const char* p, const char* const end, char c) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    const std::uint64_t pattern = ones * static_cast<unsigned char>(c);
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        word ^= pattern;
        if (((word - ones) & ~word & highs) != 0) {
            break;
        }
        p += 8;
    }
    while (p != end && *p != c) {
        ++p;
    }
    return p;
}

#if defined(__SSE2__)

// Where a run of whole 64-byte blocks inside a string ended.
struct BlockRun {
    const char* p;
    enum class After { Inside, ClosingQuote, Comma } after;
};

// Skips whole 64-byte blocks of a listing such as `"a","b""c","d"`, starting inside a string
// quoted with `quote`. While every byte outside the strings of a block is a comma, each quote
// there either closes a string, opens the next one after a comma, or doubles a quote inside
// one, so the quotes alone tell which bytes are inside: those after an even count of them. A
// block with any other byte outside its strings is left to the byte-wise scan.
BlockRun skipListingBlocks(const char* p, const char* const end, char quote) {
    const __m128i quotes = _mm_set1_epi8(quote);
    const __m128i commas = _mm_set1_epi8(',');
    while (end - p >= 64) {
        std::uint64_t quoteBits = 0;
        std::uint64_t commaBits = 0;
        for (int k = 0; k < 4; ++k) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
            quoteBits |=
                std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, quotes))))
                << (16 * k);
            commaBits |=
                std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, commas))))
                << (16 * k);
        }
        // Bit k: an odd count of quotes up to and including byte k, so byte k is outside.
        std::uint64_t outside = quoteBits;
        for (int shift = 1; shift < 64; shift *= 2) {
            outside ^= outside << shift;
        }
        if ((outside & ~quoteBits & ~commaBits) != 0) {
            return {p, BlockRun::After::Inside};
        }
        p += 64;
        if (outside >> 63) {
            return {p, quoteBits >> 63 ? BlockRun::After::ClosingQuote : BlockRun::After::Comma};
        }
    }
    return {p, BlockRun::After::Inside};
}

#endif

} // namespace

std::size_t ReplyScanner::scan(std::string_view bytes) {
    std::size_t i = scanned_;
    const std::size_t n = bytes.size();
    while (i < n) {
        const char c = bytes[i];
        switch (state_) {
        case State::Text:
            if (!textSpecials[static_cast<unsigned char>(c)]) {
                elementStart_ = false;
                do {
                    ++i;
                } while (i < n && !textSpecials[static_cast<unsigned char>(bytes[i])]);
                break;
            }
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
        case State::Quoted: {
            const char* p = bytes.data() + i;
            const char* end = bytes.data() + n;
#if defined(__SSE2__)
            const BlockRun run = skipListingBlocks(p, end, quote_);
            i = static_cast<std::size_t>(run.p - bytes.data());
            if (run.after == BlockRun::After::ClosingQuote) {
                state_ = State::QuoteClosing;
                break;
            }
            if (run.after == BlockRun::After::Comma) {
                state_ = State::Text;
                elementStart_ = true;
                break;
            }
            // A block the quotes alone cannot decide is scanned byte-wise; the blocks after
            // it are tried again.
            p = run.p;
            end = std::min(end, p + 64);
#endif
            // Strings are short as a rule (file names in a listing), so a plain loop beats a
            // library call, and a listing's `","` between strings is taken without leaving it.
            char quote = quote_;
            for (;;) {
                p = findByte(p, end, quote);
                if (end - p < 3) {
                    break;
                }
                if (p[1] == quote) {
                    p += 2; // a doubled quote: still inside
                } else if (p[1] == ',' && (p[2] == '"' || p[2] == '\'')) {
                    quote = p[2]; // the next element is a string too
                    p += 3;
                } else {
                    break;
                }
            }
            quote_ = quote;
            i = static_cast<std::size_t>(p - bytes.data());
            if (p != end) {
                ++i;
                state_ = State::QuoteClosing;
            }
            break;
        }
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
        case State::Indefinite: {
            // Its bytes are data: only the line feed ends it, and the reply with it.
            const void* end = std::memchr(bytes.data() + i, '\n', n - i);
            if (!end) {
                i = n;
                break;
            }
            i = static_cast<std::size_t>(static_cast<const char*>(end) - bytes.data());
            state_ = State::Text;
            break;
        }
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
    // A copy, not a swap: the pending buffer keeps its room for the next long reply.
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
