#include "fuzz/fuzz_support.h"

#include <sanitizer/allocator_interface.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>
#include <vector>

extern "C" {
[[noreturn]] void __real_exit(int status);
std::FILE* __real_fopen(const char* path, const char* mode);
int __real_fclose(std::FILE* file);
}

namespace {

bool exit_armed = false;        // inside run_catching_exit
std::jmp_buf exit_jump;         // where an exit() of the body returns to
int exit_status = 0;
std::vector<std::FILE*> open_files;  // opened by the body and still open

// Blocks the body allocated and has not freed. After an exit() the set goes
// on tracking frees until release_exit_leftovers, so that what the caller
// releases itself is not freed twice.
std::unordered_set<const volatile void*>* live_blocks = nullptr;
bool tracking = false;

void on_malloc(const volatile void* block, std::size_t) {
  if (!tracking) return;
  tracking = false;  // the set allocates too
  live_blocks->insert(block);
  tracking = true;
}

void on_free(const volatile void* block) {
  if (!tracking) return;
  tracking = false;
  live_blocks->erase(block);
  tracking = true;
}

}  // namespace

extern "C" {

[[noreturn]] void __wrap_exit(int status) {
  if (!exit_armed) __real_exit(status);
  exit_status = status;
  std::longjmp(exit_jump, 1);
}

std::FILE* __wrap_fopen(const char* path, const char* mode) {
  std::FILE* file = __real_fopen(path, mode);
  if (exit_armed && file != nullptr) open_files.push_back(file);
  return file;
}

int __wrap_fclose(std::FILE* file) {
  for (std::size_t k = 0; k < open_files.size(); ++k) {
    if (open_files[k] == file) {
      open_files.erase(open_files.begin() + static_cast<long>(k));
      break;
    }
  }
  return __real_fclose(file);
}

}  // extern "C"

namespace tevra_fuzz {

std::string scratch_path(const char* tag) {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  path += "/tevra-fuzz-" + std::to_string(getpid()) + "-" + tag;
  return path;
}

void write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = __real_fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::abort();
  }
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (__real_fclose(file) != 0) std::abort();
}

int run_catching_exit(void (*body)(void*), void* context) {
  open_files.reserve(8);
  if (live_blocks == nullptr) {
    live_blocks = new std::unordered_set<const volatile void*>;
    __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
  }
  live_blocks->clear();
  exit_armed = true;
  tracking = true;
  int status = -1;
  if (setjmp(exit_jump) == 0) {
    body(context);
  } else {
    status = exit_status;
  }
  exit_armed = false;
  if (status == -1) tracking = false;
  // The process would have ended: what it left open is not a leak of the
  // code under test, but would pile up here.
  while (!open_files.empty()) {
    std::FILE* file = open_files.back();
    open_files.pop_back();
    __real_fclose(file);
  }
  return status;
}

void release_exit_leftovers() {
  if (!tracking) return;
  tracking = false;
  for (const volatile void* block : *live_blocks) std::free(const_cast<void*>(block));
  live_blocks->clear();
}

}  // namespace tevra_fuzz
