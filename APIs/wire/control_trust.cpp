#include "control_trust.h"

#include <cstdio>

namespace nettlebeam::wire {

namespace {

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string ownerText(uid_t owner) {
    return "uid " + std::to_string(owner);
}

// What every folder on the path must be first of all.
std::string notARealFolder(const struct stat& info) {
    if (S_ISLNK(info.st_mode)) return "it is a symbolic link";
    if (!S_ISDIR(info.st_mode)) return "it is not a folder";
    return "";
}

}  // namespace

std::string untrustedChosenFolder(const struct stat& info, uid_t user) {
    if (std::string why = notARealFolder(info); !why.empty()) return why;
    if (info.st_uid != user && info.st_uid != 0)
        return "it belongs to " + ownerText(info.st_uid) + ", not to " + ownerText(user) +
               " or root";
    if ((info.st_mode & S_IWOTH) != 0 && (info.st_mode & S_ISVTX) == 0)
        return "everybody may write it (mode " + octal(info.st_mode) + ") and it has no sticky bit";
    return "";
}

std::string untrustedPrivateFolder(const struct stat& info, uid_t user) {
    if (std::string why = notARealFolder(info); !why.empty()) return why;
    if (info.st_uid != user)
        return "it belongs to " + ownerText(info.st_uid) + ", not to " + ownerText(user);
    if ((info.st_mode & 077) != 0)
        return "others have access to it (mode " + octal(info.st_mode) + "; it must be 0700)";
    return "";
}

std::string untrustedDataFolder(const struct stat& info, uid_t user) {
    if (std::string why = notARealFolder(info); !why.empty()) return why;
    if (info.st_uid != user)
        return "it belongs to " + ownerText(info.st_uid) + ", not to " + ownerText(user);
    if ((info.st_mode & 022) != 0) return "others may write it (mode " + octal(info.st_mode) + ")";
    return "";
}

std::string untrustedSocket(const struct stat& info, uid_t user) {
    if (!S_ISSOCK(info.st_mode))
        return S_ISLNK(info.st_mode) ? "it is a symbolic link, not a socket" : "it is not a socket";
    if (info.st_uid != user && info.st_uid != 0)
        return "the socket belongs to " + ownerText(info.st_uid) + ", not to " + ownerText(user) +
               " or root";
    return "";
}

std::string untrustedPeer(uid_t peer, uid_t user) {
    if (peer != user && peer != 0)
        return "the process on the other end runs as " + ownerText(peer) + ", not as " +
               ownerText(user) + " or root";
    return "";
}

}  // namespace nettlebeam::wire
