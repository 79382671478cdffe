#include "platform/files/replace_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace files {

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string systemError(int code) {
    return std::strerror(code);
}

bool makeFolders(const std::string& folder) {
    struct stat info {};
    if (folder.empty() || ::stat(folder.c_str(), &info) == 0) {
        return true;
    }
    const std::string parent = folderOf(folder);
    if (parent != folder && !makeFolders(parent)) {
        return false;
    }
    return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

bool writeWhole(int fd, const std::string& contents) {
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A full disk, a size limit or a removed medium can make a write come up short without any
// error reported; the new file replaces the old one only once it reads back whole.
bool readsBack(int fd, const std::string& contents) {
    std::string back(contents.size() + 1, '\0');
    std::size_t done = 0;
    while (done < back.size()) {
        const ssize_t n =
            ::pread(fd, back.data() + done, back.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done == contents.size() && back.compare(0, done, contents) == 0;
}

} // namespace

std::string resolveLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) {
            return current;
        }
        target.resize(static_cast<std::size_t>(n));
        current = target.front() == '/' ? target : folderOf(current) + '/' + target;
    }
    return current;
}

bool replaceFile(const std::string& path, const std::string& contents, std::string& error) {
    const std::string target = resolveLinks(path);
    const std::string folder = folderOf(target);
    const auto fail = [&](const std::string& cause) {
        error = target + ": " + cause;
        return false;
    };

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        return fail("is a folder, not a file");
    }
    if (exists && ((existing.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
        return fail("the file is read-only; make it writable to save changes to it");
    }
    if (!makeFolders(folder)) {
        return fail("cannot create its folder: " + systemError(errno));
    }

    static std::atomic<unsigned> serial{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = folder + "/." + nameOf(target) + '.' + std::to_string(::getpid()) + '.' +
                    std::to_string(serial++);
        fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return fail("cannot create a file in " + folder + ": " + systemError(errno));
        }
    }
    if (fd < 0) {
        return fail("cannot create a file in " + folder + ": " + systemError(EEXIST));
    }
    const auto discard = [&](const std::string& cause) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return fail(cause);
    };
    if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0) {
        return discard("cannot keep its mode: " + systemError(errno));
    }
    if (!writeWhole(fd, contents) || ::fsync(fd) != 0) {
        return discard("cannot write: " + systemError(errno));
    }
    if (!readsBack(fd, contents)) {
        return discard("the file was not written completely");
    }
    ::close(fd);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return fail("cannot replace: " + systemError(code));
    }
    return true;
}

EditLock::EditLock(const std::string& path, std::chrono::milliseconds timeout) {
    const std::string target = resolveLinks(path);
    const std::string lockPath = folderOf(target) + "/." + nameOf(target) + ".lock";
    if (!makeFolders(folderOf(target))) {
        error_ = "cannot create the folder of " + target + ": " + systemError(errno);
        return;
    }
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error_ = "cannot open the lock file " + lockPath + ": " + systemError(errno);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error_ = "cannot lock " + lockPath + ": " + systemError(errno);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error_ = target + " is being changed by another program; try again";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fd);
}

EditLock::~EditLock() {
    if (fd_ >= 0) {
        ::close(fd_); // closing drops the lock
    }
}

} // namespace files
