// Helpers for tests that run the tool programs as separate processes: one
// work directory per test process, files in it, and command runs with their
// exit status and captured output.
#ifndef TEVRA_TESTS_TOOL_RUNNER_H_
#define TEVRA_TESTS_TOOL_RUNNER_H_

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "gtest/gtest.h"

namespace tevra {

// The whole content of a file, or "" when it cannot be read.
inline std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline bool file_exists(const std::string& path) { return std::ifstream(path).good(); }

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

namespace tool_runner_detail {

inline bool& work_dir_made() {
  static bool made = false;
  return made;
}

// ctest runs every test as its own process, several at once: the process id
// keeps their files apart.
inline const std::string& work_dir_name() {
  static const std::string name = testing::TempDir() + "tevra_tools_" + std::to_string(getpid());
  return name;
}

// Removes the work directory after the last test.
class Work_dir_cleanup : public testing::Environment {
 public:
  void TearDown() override {
    if (work_dir_made()) std::system(("rm -rf '" + work_dir_name() + "'").c_str());
  }
};

inline const testing::Environment* const work_dir_cleanup =
    testing::AddGlobalTestEnvironment(new Work_dir_cleanup);

}  // namespace tool_runner_detail

// This process's own directory, with a subdirectory "data"; made on first use.
inline const std::string& work_dir() {
  if (!tool_runner_detail::work_dir_made()) {
    std::system(("mkdir -p '" + tool_runner_detail::work_dir_name() + "/data'").c_str());
    tool_runner_detail::work_dir_made() = true;
  }
  return tool_runner_detail::work_dir_name();
}

// The path of a file in the work directory.
inline std::string work_path(const std::string& name) { return work_dir() + "/" + name; }

// Writes a file in the work directory and returns its path.
inline std::string write_work_file(const std::string& name, const std::string& bytes) {
  const std::string path = work_path(name);
  write_file(path, bytes);
  return path;
}

struct Run_result {
  bool exited;      // false: ended by a signal
  int status;       // exit status, -1 when the shell itself did not exit
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a shell command line in the work directory, capturing both outputs.
inline Run_result run_in_work_dir(const std::string& command_line) {
  const std::string out = work_path("stdout"), err = work_path("stderr");
  const std::string command =
      "cd '" + work_dir() + "' && " + command_line + " >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  // The shell reports a child killed by signal n as status 128 + n.
  return Run_result{WIFEXITED(raw) && status < 128, status, read_file(out), read_file(err)};
}

inline std::string train_command(const std::string& arguments) {
  return "'" TEVRA_TRAIN_BINARY "' " + arguments;
}
inline std::string predict_command(const std::string& arguments) {
  return "'" TEVRA_PREDICT_BINARY "' " + arguments;
}

inline Run_result run_train(const std::string& arguments) {
  return run_in_work_dir(train_command(arguments));
}
inline Run_result run_predict(const std::string& arguments) {
  return run_in_work_dir(predict_command(arguments));
}

}  // namespace tevra

#endif  // TEVRA_TESTS_TOOL_RUNNER_H_
