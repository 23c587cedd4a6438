#pragma once
// Questions asked of an output path before anything is written to it, so that writing text
// never destroys the file it was taken from.

#include <string>

namespace tolvane {

// Whether the two paths name one file (the same device and inode: hard and symbolic links
// included); false when either does not exist.
bool IsSameFile(const std::string& a, const std::string& b);

} // namespace tolvane
