// The reply framing. Input: one byte n (low 4 bits), n cut positions of two bytes each, then
// the stream. Properties: the stream fed in pieces cut at those positions (some pieces empty)
// gives the same replies, and leaves the same bytes pending, as the stream fed whole, and so
// does the stream fed a byte at a time;
// scpiMessageLength agrees with the first reply; each reply is the front of the bytes it took,
// which end in its line feed.
#include "fuzz/fuzz_check.h"
#include "platform/lumetra/reply_scanner.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Replies {
    std::vector<std::string> replies;
    std::vector<std::size_t> consumed; // bytes each reply took off the stream
    std::string pending;
};

// Feeds `stream` piece by piece, ending each piece at the next cut, and takes every reply
// that is complete after each piece.
Replies feed(std::string_view stream, const std::vector<std::size_t>& cuts) {
    Replies out;
    lumetra::ReplyScanner scanner;
    std::size_t from = 0;
    auto takeAll = [&] {
        std::string reply;
        std::size_t before = out.pending.size();
        while (scanner.take(out.pending, reply)) {
            out.replies.push_back(reply);
            out.consumed.push_back(before - out.pending.size());
            before = out.pending.size();
        }
    };
    for (std::size_t cut : cuts) {
        out.pending.append(stream.substr(from, cut - from));
        from = cut;
        takeAll();
    }
    out.pending.append(stream.substr(from));
    takeAll();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t cutCount = data[0] & 0x0f;
    if (size < 1 + 2 * cutCount) {
        return 0;
    }
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1 + 2 * cutCount,
                                  size - 1 - 2 * cutCount);
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < cutCount; ++i) {
        const std::size_t value = data[1 + 2 * i] | (std::size_t(data[2 + 2 * i]) << 8);
        cuts.push_back(value % (stream.size() + 1));
    }
    std::sort(cuts.begin(), cuts.end());

    const Replies whole = feed(stream, {});
    const Replies pieces = feed(stream, cuts);
    FUZZ_CHECK(pieces.replies == whole.replies);
    FUZZ_CHECK(pieces.consumed == whole.consumed);
    FUZZ_CHECK(pieces.pending == whole.pending);
    // Fed a byte at a time, the scanner never has a whole block of a listing to skip at once.
    if (stream.size() <= 4096) {
        std::vector<std::size_t> everyByte(stream.size());
        for (std::size_t i = 0; i < everyByte.size(); ++i) {
            everyByte[i] = i;
        }
        const Replies byteWise = feed(stream, everyByte);
        FUZZ_CHECK(byteWise.replies == whole.replies);
        FUZZ_CHECK(byteWise.pending == whole.pending);
    }

    std::size_t at = 0;
    for (std::size_t i = 0; i < whole.replies.size(); ++i) {
        const std::string_view took = stream.substr(at, whole.consumed[i]);
        const std::string& reply = whole.replies[i];
        FUZZ_CHECK(!took.empty() && took.back() == '\n');
        FUZZ_CHECK(took.substr(0, reply.size()) == reply);
        FUZZ_CHECK(took.size() == reply.size() + 1 ||
                   (took.size() == reply.size() + 2 && took[reply.size()] == '\r'));
        at += took.size();
    }
    FUZZ_CHECK(stream.substr(at) == whole.pending);

    std::size_t afterLastBlock = 1234567;
    const std::size_t first = lumetra::scpiMessageLength(stream, &afterLastBlock);
    if (whole.replies.empty()) {
        FUZZ_CHECK(first == 0 && afterLastBlock == 0);
    } else {
        FUZZ_CHECK(first == whole.consumed.front());
        FUZZ_CHECK(afterLastBlock < first);
        // A carriage return before the line feed is dropped unless a block ends with it.
        const bool keptReturn = whole.replies.front().size() == first - 1;
        FUZZ_CHECK(keptReturn ==
                   (first < 2 || stream[first - 2] != '\r' || afterLastBlock == first - 1));
    }
    return 0;
}
