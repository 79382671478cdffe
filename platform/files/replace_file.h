#pragma once

#include <chrono>
#include <string>

// Rewriting a file the user owns (a settings or configuration file) without changing what the
// user made of it: its link, its mode, its being read-only.
namespace files {

// Where a write of `path` must go: the final target of a chain of symbolic links (a relative
// link read from the link's own folder), or `path` itself.
std::string resolveLinks(const std::string& path);

// Replaces the file at `path` by `contents` as a whole: written beside it, read back, then
// renamed over it, so that a failed or interrupted write leaves the old file as it was. A
// symbolic link stays a link and its target gets the new contents; the file's mode is kept; a
// file without write permission is refused and left untouched. A new file gets the mode 0666
// less the umask, and its folder is made. On failure returns false, with `error` naming the
// file and the cause.
bool replaceFile(const std::string& path, const std::string& contents, std::string& error);

// An exclusive lock for one read-modify-write of `path`, held on a lock file beside the file
// (".<name>.lock", kept) until destroyed. Waits at most `timeout` for another holder.
class EditLock {
public:
    EditLock(const std::string& path, std::chrono::milliseconds timeout);
    ~EditLock();
    EditLock(const EditLock&) = delete;
    EditLock& operator=(const EditLock&) = delete;

    bool locked() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

} // namespace files
