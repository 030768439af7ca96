// Who may be trusted on the control path. Anyone who can create, replace or
// answer on the control socket can drive the devices, or answer clients
// with made-up replies, so each side checks what it finds there.
//
// Each check takes what lstat (or SO_PEERCRED) reported and returns why it
// cannot be trusted, or an empty string when it can.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace nettlebeam::wire {

// A folder the user chose to hold the control path ($XDG_RUNTIME_DIR, the
// folder of $NETTLEBEAM_CONTROL or of --control): a real folder (not a
// symbolic link) owned by `user` or root that others cannot write unless
// its sticky bit keeps them from renaming what is not theirs.
std::string untrustedChosenFolder(const struct stat& info, uid_t user);

// A folder of the driver's own on the control path (one it creates, or its
// default folder): a real folder owned by `user` with no access for others.
std::string untrustedPrivateFolder(const struct stat& info, uid_t user);

// A folder that keeps the driver's files (its state folder, which the user
// may have made readable to others): a real folder owned by `user` that
// nobody else may write.
std::string untrustedDataFolder(const struct stat& info, uid_t user);

// The control socket a client is about to connect to: a socket owned by
// `user` or root.
std::string untrustedSocket(const struct stat& info, uid_t user);

// The process that answers on the control socket, or a client of it: it
// runs as `user` or as root.
std::string untrustedPeer(uid_t peer, uid_t user);

}  // namespace nettlebeam::wire
