// Helpers shared by the fuzz targets: a scratch file per process, and a way
// to run code that ends the process on bad input.
#ifndef TEVRA_FUZZ_FUZZ_SUPPORT_H_
#define TEVRA_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace tevra_fuzz {

// Path of a scratch file owned by this process; `tag` tells several apart.
std::string scratch_path(const char* tag);

// Replaces the file at path with the bytes given.
void write_file(const std::string& path, const std::uint8_t* data, std::size_t size);

// Runs body(context) in this process. The tools end a run on bad input with
// exit(); here such a call returns to this function instead (the targets
// that use this are linked with --wrap=exit and --wrap=fopen), closing the
// files the body left open, and the status is returned. Returns -1 when the
// body returned normally. The body must hold nothing on its stack that needs
// a destructor, since an exit skips it.
//
// After an exit, the caller releases what context holds (and the line
// buffer), allocating nothing meanwhile, then calls release_exit_leftovers.
int run_catching_exit(void (*body)(void*), void* context);

// Frees every block that the body of the last run_catching_exit allocated
// and that is still held after an exit and the caller's release: what the
// code that exited held in its locals, which the ending process would have
// dropped. Without this, each refused input would keep a little memory and a
// long fuzzing run would run out of it. Does nothing after a normal return.
// The blocks are released with free: code that may exit holds nothing
// allocated by new at that point.
void release_exit_leftovers();

}  // namespace tevra_fuzz

#endif  // TEVRA_FUZZ_FUZZ_SUPPORT_H_
