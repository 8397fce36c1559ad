// Writing a file of the per-user folder so that a full disk, a quota or a
// crash never leaves it empty or cut: the new content goes to a temporary
// file beside it, is flushed and synced, and only then takes the old name.
#pragma once

#include <string>

namespace zbx {

// Replaces the file at path with content. On any failure the old file stays
// as it was, the temporary file is removed, and false comes back with the
// reason (strerror text) in error.
bool replace_file(const std::string& path, const std::string& content, std::string& error);

}  // namespace zbx
