// Writing a file of the per-user folder so that a full disk, a quota or a
// crash never leaves it empty or cut: the new content goes to a temporary
// file beside it, is flushed and synced, and only then takes the old name.
#pragma once

#include <cstdio>
#include <string>

namespace zbx {

// Replaces the file at path with content. On any failure the old file stays
// as it was, the temporary file is removed, and false comes back with the
// reason (strerror text) in error. A symbolic link keeps pointing where it
// did: the file it names is replaced.
bool replace_file(const std::string& path, const std::string& content, std::string& error);

// replace_file with what write puts on a stream (collected in memory first);
// a failure is said in one line "zbx3d: cannot save PATH: REASON" on
// standard error. False on failure.
bool save_user_file(const std::string& path, void (*write)(std::FILE*));

// Makes the entries of a folder (files made, renamed or removed in it) reach
// the disk; errors are ignored, as the change itself has been made.
void sync_folder(const std::string& folder);

}  // namespace zbx
