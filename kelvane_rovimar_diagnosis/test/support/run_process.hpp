// Runs a program with a chosen environment and collects its standard output,
// so that tests observe the library as a robot engineer would: on stdout.
#ifndef TEST_SUPPORT_RUN_PROCESS_HPP_
#define TEST_SUPPORT_RUN_PROCESS_HPP_

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace test_support {

struct ProcessResult {
  int exit_code = -1;
  std::string standard_output;
};

/// Environment of this process without the given variables, plus `overrides`.
inline std::vector<std::string> environmentWith(
    const std::vector<std::string>& removed, const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::string name = text.substr(0, text.find('='));
    bool drop = overrides.count(name) > 0;
    for (const auto& variable : removed) {
      drop = drop || variable == name;
    }
    if (!drop) {
      entries.push_back(text);
    }
  }
  for (const auto& [name, value] : overrides) {
    entries.push_back(name + "=" + value);
  }
  return entries;
}

inline ProcessResult runProcess(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& environment) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);

  std::vector<char*> argv;
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& entry : environment) {
    envp.push_back(const_cast<char*>(entry.c_str()));
  }
  envp.push_back(nullptr);

  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (spawned != 0) {
    close(pipe_ends[0]);
    throw std::runtime_error("cannot start " + arguments.front());
  }

  ProcessResult result;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(pipe_ends[0], buffer, sizeof(buffer));
    if (count > 0) {
      result.standard_output.append(buffer, static_cast<size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipe_ends[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace test_support

#endif  // TEST_SUPPORT_RUN_PROCESS_HPP_
