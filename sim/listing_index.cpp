#include "sim/listing_index.h"

#include <algorithm>
#include <cerrno>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace sim {

namespace {

constexpr std::uint32_t Watched = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

void insertSorted(std::vector<std::string>& names, std::string name) {
    auto at = std::lower_bound(names.begin(), names.end(), name);
    if (at == names.end() || *at != name) {
        names.insert(at, std::move(name));
    }
}

void eraseSorted(std::vector<std::string>& names, const std::string& name) {
    auto at = std::lower_bound(names.begin(), names.end(), name);
    if (at != names.end() && *at == name) {
        names.erase(at);
    }
}

} // namespace

struct ListingIndex::State {
    struct Folder {
        std::vector<std::string> names;
        int watch = -1;
        dev_t device = 0;
        ino_t inode = 0;
        bool current = false; // false: read it again before the next listing
    };

    ~State() {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    // Applies every change the file system reported since the last listing.
    void takeChanges() {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if ((event->mask & IN_Q_OVERFLOW) != 0) {
                    for (auto& [path, folder] : folders) {
                        folder.current = false;
                    }
                    continue;
                }
                auto watched = byWatch.find(event->wd);
                if (watched == byWatch.end()) {
                    continue;
                }
                auto found = folders.find(watched->second);
                if ((event->mask & IN_IGNORED) != 0) {
                    byWatch.erase(watched);
                    if (found != folders.end()) {
                        found->second.watch = -1;
                        found->second.current = false;
                    }
                    continue;
                }
                if (found == folders.end()) {
                    continue;
                }
                Folder& f = found->second;
                const std::string name = event->len > 0 ? std::string(event->name) : std::string();
                if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
                    f.current = false;
                } else if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                    insertSorted(f.names, name);
                } else if ((event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
                    eraseSorted(f.names, name);
                }
            }
        }
    }

    // Reads the folder afresh; its watch is set first, so that no change slips in between.
    bool read(const std::filesystem::path& path, const std::string& key, Folder& f,
              const struct stat& info) {
        if (fd >= 0 && f.watch < 0) {
            f.watch = ::inotify_add_watch(fd, key.c_str(), Watched);
            if (f.watch >= 0) {
                byWatch[f.watch] = key;
            }
        }
        f.names.clear();
        std::error_code ec;
        for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end;
             it.increment(ec)) {
            f.names.push_back(it->path().filename().string());
        }
        if (ec) {
            return false;
        }
        std::sort(f.names.begin(), f.names.end());
        f.device = info.st_dev;
        f.inode = info.st_ino;
        // Without a watch nothing would tell of a change: read it again every time.
        f.current = f.watch >= 0;
        return true;
    }

    int fd = -1;
    bool started = false;
    std::unordered_map<std::string, Folder> folders;
    std::unordered_map<int, std::string> byWatch;
};

ListingIndex::ListingIndex() : state_(std::make_unique<State>()) {}
ListingIndex::~ListingIndex() = default;
ListingIndex::ListingIndex(ListingIndex&&) noexcept = default;
ListingIndex& ListingIndex::operator=(ListingIndex&&) noexcept = default;

const std::vector<std::string>* ListingIndex::names(const std::filesystem::path& folder) {
    State& s = *state_;
    if (!s.started) {
        s.started = true;
        s.fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }
    if (s.fd >= 0) {
        s.takeChanges();
    }
    const std::string key = folder.lexically_normal().string();
    struct stat info {};
    if (::stat(key.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return nullptr;
    }
    State::Folder& f = s.folders[key];
    // The same path may name another folder by now, e.g. one made anew after a removal.
    if (f.current && f.device == info.st_dev && f.inode == info.st_ino) {
        return &f.names;
    }
    if (f.watch >= 0 && (f.device != info.st_dev || f.inode != info.st_ino)) {
        ::inotify_rm_watch(s.fd, f.watch);
        s.byWatch.erase(f.watch);
        f.watch = -1;
    }
    if (!s.read(folder, key, f, info)) {
        return nullptr;
    }
    return &f.names;
}

std::string listingReply(const std::vector<std::string>& names) {
    std::size_t size = 0;
    for (const std::string& name : names) {
        size += name.size() + 3;
    }
    std::string text;
    text.reserve(size);
    for (const std::string& name : names) {
        if (!text.empty()) {
            text += ',';
        }
        text += '"';
        if (name.find('"') == std::string::npos) {
            text += name;
        } else {
            for (char c : name) {
                if (c == '"') {
                    text += '"';
                }
                text += c;
            }
        }
        text += '"';
    }
    return text;
}

} // namespace sim
