// Runs a program with captured standard output and error, in a chosen
// working directory, for tests of the console front end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace norvane::test {

struct ProcessResult {
  int exitCode = -1;  // the exit status, or 128 + signal number
  std::string out;
  std::string err;
};

struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (pipe2(fd, O_CLOEXEC) != 0) fd[0] = fd[1] = -1;
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (fd[0] >= 0) close(fd[0]);
    fd[0] = -1;
  }
  void CloseWrite() {
    if (fd[1] >= 0) close(fd[1]);
    fd[1] = -1;
  }
};

// Starts `args` (args[0] is the program path) in `cwd` and waits for it.
// With `closedOutput` the program's standard output is a pipe nobody reads:
// its read end is closed before the program starts. With `unprivileged`, a
// test running as root starts the program as the user "nobody" (65534), so
// that permissions refuse it as they refuse any user.
inline ProcessResult RunProcess(const std::vector<std::string>& args, const std::string& cwd,
                                bool closedOutput = false, bool unprivileged = false) {
  ProcessResult result;
  Pipe out, err;
  if (out.fd[0] < 0 || err.fd[0] < 0) return result;
  if (closedOutput) out.CloseRead();
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    if (unprivileged && geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(127);
    }
    dup2(out.fd[1], STDOUT_FILENO);
    dup2(err.fd[1], STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  out.CloseWrite();
  err.CloseWrite();

  pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = closedOutput ? 1 : 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.exitCode = 128 + WTERMSIG(status);
  return result;
}

}  // namespace norvane::test
