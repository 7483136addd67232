// Whether an output file of a tool would overwrite one of its inputs.
#ifndef TEVRA_TOOLS_COMMON_SAME_FILE_H_
#define TEVRA_TOOLS_COMMON_SAME_FILE_H_

namespace tevra {

// True when output names an existing regular file that is also the file
// input names (the same device and inode, whatever the paths or links).
// Writing to a device or a pipe destroys nothing, so those never match.
bool is_same_file(const char* output, const char* input);

}  // namespace tevra

#endif  // TEVRA_TOOLS_COMMON_SAME_FILE_H_
