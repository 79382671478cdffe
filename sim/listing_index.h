#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// The sorted names in the folders an instrument lists. Each folder is read once; after that
// the file system's change notifications keep its names up to date, so a listing does not
// read, build path objects for or sort the whole folder again.
class ListingIndex {
public:
    ListingIndex();
    ~ListingIndex();
    ListingIndex(ListingIndex&&) noexcept;
    ListingIndex& operator=(ListingIndex&&) noexcept;

    // The names in `folder` in byte order; nullptr when it cannot be read. Valid until the next
    // call.
    const std::vector<std::string>* names(const std::filesystem::path& folder);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The names as a listing reply: each quoted, quotes doubled, separated by commas.
std::string listingReply(const std::vector<std::string>& names);

} // namespace sim
