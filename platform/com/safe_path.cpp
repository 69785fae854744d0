#include "com/safe_path.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace fs = std::filesystem;

namespace monvia::com {

namespace {

bool trusted_owner(uid_t owner) { return owner == 0 || owner == geteuid(); }

std::string owner_text(uid_t uid) {
    std::string text = "user " + std::to_string(uid);
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
        text += std::string(" (") + found->pw_name + ")";
    return text;
}

std::string mode_text(mode_t mode) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

// Walks from the object up to the root directory, without following links.
std::optional<Unsafe> check_chain(const fs::path& path, std::string_view what) {
    std::vector<fs::path> chain;
    fs::path so_far;
    for (const fs::path& part : path) {
        if (part.empty()) continue;  // a trailing separator
        so_far /= part;
        chain.push_back(so_far);
    }
    std::optional<uid_t> below;  // owner of the entry one level down
    bool found = false;          // whether a part of the path exists yet
    for (std::size_t i = chain.size(); i-- > 0;) {
        struct stat st {};
        if (::lstat(chain[i].c_str(), &st) != 0) {
            // The parts still to be made will be the user's; what decides is
            // the directories they will be made in.
            if (errno != ENOENT || found) return std::nullopt;
            below = geteuid();
            continue;
        }
        found = true;
        const bool leaf = i + 1 == chain.size();
        // A link itself cannot be changed, only replaced through its
        // directory, which is checked next; its target is checked by the
        // walk over the resolved path.
        if (!S_ISLNK(st.st_mode)) {
            if (leaf) {
                if (auto why = unsafe_object(st, what)) return Unsafe{*why, chain[i]};
            } else {
                const std::string on_path = "a directory on the path of the " + std::string(what);
                if (!trusted_owner(st.st_uid))
                    return Unsafe{on_path + " belongs to " + owner_text(st.st_uid) + ", not to you or root",
                                  chain[i]};
                const bool sticky_guards = (st.st_mode & S_ISVTX) && below && trusted_owner(*below);
                if ((st.st_mode & kWritableByOthers) && !sticky_guards)
                    return Unsafe{on_path + " can be changed by users other than its owner (mode " +
                                      mode_text(st.st_mode) + ")",
                                  chain[i]};
            }
        }
        below = st.st_uid;
    }
    return std::nullopt;
}

bool continuation(std::string_view s, std::size_t i) {
    return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
}

}  // namespace

std::string shown_path(const fs::path& path, std::size_t max_bytes) {
    const std::string text = path.string();
    if (text.size() <= max_bytes) return "\"" + text + "\"";
    // Keep about as much of the start as of the end.
    // The cuts move by at most three bytes, off the middle of a UTF-8
    // character (a run of stray continuation bytes is cut anywhere).
    const std::size_t keep = max_bytes / 2;
    std::size_t head = keep;
    for (int k = 0; k < 3 && continuation(text, head); ++k) --head;
    std::size_t tail = text.size() - keep;
    for (int k = 0; k < 3 && continuation(text, tail); ++k) ++tail;
    return "\"" + text.substr(0, head) + "\xE2\x80\xA6" + text.substr(tail) + "\" (" +
           std::to_string(text.size()) + " bytes)";
}

std::optional<std::string> unsafe_object(const struct stat& st, std::string_view what) {
    if (!trusted_owner(st.st_uid))
        return "the " + std::string(what) + " belongs to " + owner_text(st.st_uid) + ", not to you or root";
    if (st.st_mode & kWritableByOthers)
        return "the " + std::string(what) + " can be changed by users other than its owner (mode " +
               mode_text(st.st_mode) + ")";
    return std::nullopt;
}

std::optional<Unsafe> unsafe_path(const fs::path& path, std::string_view what) {
    std::error_code ec;
    const fs::path written = fs::absolute(path, ec).lexically_normal();
    if (ec) return std::nullopt;
    if (auto why = check_chain(written, what)) return why;
    const fs::path resolved = fs::weakly_canonical(written, ec);
    if (!ec && resolved != written) return check_chain(resolved, what);
    return std::nullopt;
}

std::string path_error_cause(int error_number) {
    switch (error_number) {
        case ENAMETOOLONG:
            return "the name is too long";
        case ENOENT:
            return "it does not exist";
        case ENOTDIR:
            return "a part of its path is not a directory";
        case EACCES:
        case EPERM:
            return "permission denied";
        case ELOOP:
            return "too many levels of symbolic links";
        default: {
            std::string text = std::strerror(error_number);
            if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
            return text;
        }
    }
}

std::string file_kind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISREG(mode)) return "a regular file";
    return "not a regular file";
}

}  // namespace monvia::com
