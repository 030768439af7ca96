// The folders the daemon keeps its files in, checked before it puts anything
// there: the folders on the way to the control socket, and the state folder.
#pragma once

#include <string>

#include "control_path.h"

namespace nettlebeam::driver {

// Creates the missing folders of `layout` (mode 0700) and checks every
// folder the socket depends on with lstat (a folder made by someone else
// in the moment before mkdir counts as found, not as made):
// - the place the user chose (the parent of the private folder, or the
//   deepest existing folder of a path given in full) must pass
//   wire::untrustedChosenFolder;
// - the private folder, every folder below it and every folder created
//   here must pass wire::untrustedPrivateFolder.
// False with one line naming the folder and the reason.
bool prepareControlFolders(const wire::ControlLayout& layout, std::string& error);

// The same for the state folder: found, it must pass
// wire::untrustedDataFolder; missing, it is created as above (its deepest
// existing parent passing wire::untrustedChosenFolder).
bool prepareStateFolder(const std::string& folder, std::string& error);

// The path with repeated slashes folded and without a trailing slash.
std::string normalFolderPath(const std::string& path);

}  // namespace nettlebeam::driver
