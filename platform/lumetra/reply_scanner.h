#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumetra {

// Finds where SCPI replies end in a byte stream that arrives in pieces. A reply ends at a line
// feed, except inside a quoted string or a definite-length block: "#", a digit d from 1 to 9,
// d length digits, then that many bytes of any value. A block or a quoted string counts only
// where a reply's data element starts (the reply's start, after "," or ";", or after the header
// of a reply unit), so "SN #12" or "O'Neil" in a text field is plain text. "#" followed by
// anything but d complete digits is plain text, and "#0" runs to the line feed.
//
// The scanner keeps its place between calls, so every byte is looked at once however the reply
// is split into reads, and the same bytes always give the same replies.
class ReplyScanner {
public:
    // `bytes` is what was scanned before, unchanged, followed by new bytes. Returns the length
    // of the first reply including its line feed, or 0 while it is not complete. Once a reply is
    // complete, scanning on finds the end of the one after it, counted from the same start.
    std::size_t scan(std::string_view bytes);

    // Takes the first complete reply off the front of `pending` into `reply`, without its line
    // feed, and without a carriage return before it unless that is the last byte of a block.
    // Returns false, and leaves both alone, while no reply is complete.
    bool take(std::string& pending, std::string& reply);

    // Once scan() returned a length: the offset just past the reply's last block, 0 when none.
    std::size_t afterLastBlock() const { return afterLastBlock_; }

    // Forgets everything scanned: the next scan starts at a new reply.
    void reset() { *this = ReplyScanner(); }

private:
    enum class State { Text, Quoted, QuoteClosing, Hash, LengthDigits, Payload, Indefinite };

    State state_ = State::Text;
    std::size_t scanned_ = 0;        // bytes of the current reply already looked at
    std::size_t afterLastBlock_ = 0; // offset just past the reply's last block (0: none)
    std::size_t digitsDue_ = 0;
    std::size_t payloadDue_ = 0;
    char quote_ = 0;
    bool elementStart_ = true; // the next byte starts a data element
    bool inUnitHeader_ = true; // still in the first word of a reply unit
};

// The length of the first reply in `bytes` including its line feed, or 0 when it is not
// complete; `afterLastBlock` receives the offset just past its last block (0 when none).
std::size_t scpiMessageLength(std::string_view bytes, std::size_t* afterLastBlock = nullptr);

} // namespace lumetra
