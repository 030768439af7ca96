// The named pipe through which the add-on's HTTP server takes capture data.
// A stale pipe left by a previous run blocks the server's start, so the
// monitor removes it before a command on the server while none runs. The
// pipe lives in a folder that is the user's alone, by the rules the
// driver's control folder follows, and only the user's own pipe or file is
// ever removed. Whatever is refused is logged with the reason.
#pragma once

#include <QString>

namespace AddonPipe {

// "$XDG_RUNTIME_DIR/HTTPServerES" when that folder is the user's own (a
// real folder, owned by the user, closed to others). Otherwise
// "<temporary folder>/nettlebeam-manager-<uid>/HTTPServerES": the folder is
// created 0700 when missing and must then be a real folder of the user's
// with no access for others, in a temporary folder that others cannot
// rename things in. Empty when no such place is found.
QString path();

enum class Removal { Removed, Absent, Refused, Failed };

// Removes the entry at `path` when it is a FIFO or a regular file owned by
// the user. A symbolic link, a folder or another user's entry is left alone
// (Refused): the link itself is never followed.
Removal remove(const QString& path);

}  // namespace AddonPipe
