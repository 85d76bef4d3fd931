#include "glintbox_client.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

void close_fd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// Matches a literal at *p and moves past it.
bool expect(const char** p, const char* literal) {
  const size_t n = std::strlen(literal);
  if (std::strncmp(*p, literal, n) != 0) return false;
  *p += n;
  return true;
}

// glintbox always writes a full stop as decimal point; strtod agrees as long
// as the program keeps the "C" numeric locale (the default).
bool number(const char** p, double* value) {
  char* end = nullptr;
  *value = std::strtod(*p, &end);
  if (end == *p) return false;
  *p = end;
  return true;
}

}  // namespace

bool glintbox_parse_line(const std::string& line, GlintboxResult* result) {
  const char* p = line.c_str();
  result->faces.clear();
  if (!expect(&p, "{\"frame\":")) return false;
  char* end = nullptr;
  result->frame = std::strtoul(p, &end, 10);
  if (end == p) return false;
  p = end;
  if (!expect(&p, ",\"faces\":[")) return false;
  if (*p != ']') {
    for (;;) {
      GlintboxFace f{};
      if (!expect(&p, "{\"x\":") || !number(&p, &f.x) || !expect(&p, ",\"y\":") ||
          !number(&p, &f.y) || !expect(&p, ",\"w\":") || !number(&p, &f.w) ||
          !expect(&p, ",\"h\":") || !number(&p, &f.h) || !expect(&p, ",\"score\":") ||
          !number(&p, &f.score) || !expect(&p, "}")) {
        return false;
      }
      result->faces.push_back(f);
      if (*p != ',') break;
      ++p;
    }
  }
  if (!expect(&p, "]}")) return false;
  if (*p == '\r') ++p;  // a Windows build writes its lines in text mode
  return *p == '\0';
}

bool glintbox_start(const GlintboxOptions& options, GlintboxChild* child, std::string* error) {
  std::vector<std::string> args = {options.program,
                                   "--model", options.model,
                                   "--width", std::to_string(options.width),
                                   "--height", std::to_string(options.height)};
  if (!options.score.empty()) args.insert(args.end(), {"--score", options.score});
  if (!options.nms.empty()) args.insert(args.end(), {"--nms", options.nms});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  // Close-on-exec everywhere: a sibling process started later must not keep
  // our end of glintbox's stdin open, or glintbox would never see its end.
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    close(in_pipe[0]);
    close(in_pipe[1]);
    return false;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the child's standard streams.
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

  // The parent may ignore SIGPIPE (this example does); glintbox gets the
  // default back so a parent that stops reading ends it at once.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    *error = "cannot start " + options.program + ": " + std::strerror(rc);
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    return false;
  }
  child->pid = pid;
  child->stdin_fd = in_pipe[1];
  child->stdout_fd = out_pipe[0];
  child->stderr_fd = err_pipe[0];
  return true;
}

bool glintbox_write_frame(GlintboxChild* child, const uint8_t* frame, size_t bytes) {
  while (bytes > 0) {
    const ssize_t n = write(child->stdin_fd, frame, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // EPIPE: glintbox has exited
    frame += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

void glintbox_end_input(GlintboxChild* child) { close_fd(&child->stdin_fd); }

bool glintbox_read_result(GlintboxChild* child, GlintboxResult* result, std::string* error) {
  // Reads stdout and stderr together so neither pipe can fill up and stall
  // glintbox; returns as soon as one whole line is there.
  for (;;) {
    const size_t newline = child->out_buffer.find('\n');
    if (newline != std::string::npos) {
      const std::string line = child->out_buffer.substr(0, newline);
      child->out_buffer.erase(0, newline + 1);
      if (!glintbox_parse_line(line, result)) {
        *error = "unexpected line from glintbox: " + line;
        return false;
      }
      return true;
    }
    if (child->stdout_fd < 0) return false;

    pollfd fds[2] = {{child->stdout_fd, POLLIN, 0}, {child->stderr_fd, POLLIN, 0}};
    const nfds_t count = child->stderr_fd >= 0 ? 2 : 1;
    if (poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      *error = std::string("poll: ") + std::strerror(errno);
      close_fd(&child->stdout_fd);  // so the next call reports the end
      return false;
    }
    char chunk[4096];
    if (count == 2 && fds[1].revents != 0) {
      const ssize_t n = read(child->stderr_fd, chunk, sizeof chunk);
      if (n > 0) {
        child->err_text.append(chunk, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close_fd(&child->stderr_fd);
      }
    }
    if (fds[0].revents != 0) {
      const ssize_t n = read(child->stdout_fd, chunk, sizeof chunk);
      if (n > 0) {
        child->out_buffer.append(chunk, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close_fd(&child->stdout_fd);  // a partial line left here is dropped
      }
    }
  }
}

bool glintbox_finish(GlintboxChild* child, std::string* error) {
  glintbox_end_input(child);
  close_fd(&child->stdout_fd);
  // Collect the rest of stderr: glintbox writes its one line just before exiting.
  char chunk[4096];
  while (child->stderr_fd >= 0) {
    const ssize_t n = read(child->stderr_fd, chunk, sizeof chunk);
    if (n > 0) {
      child->err_text.append(chunk, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      close_fd(&child->stderr_fd);
    }
  }
  int status = 0;
  while (waitpid(child->pid, &status, 0) < 0) {
    if (errno != EINTR) {
      *error = std::string("waitpid: ") + std::strerror(errno);
      return false;
    }
  }
  child->pid = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;

  // The last non-empty line is glintbox's diagnostic.
  std::string line = child->err_text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  const size_t start = line.rfind('\n');
  if (start != std::string::npos) line.erase(0, start + 1);
  if (WIFEXITED(status)) {
    *error = "glintbox exited with status " + std::to_string(WEXITSTATUS(status));
  } else {
    *error = "glintbox was ended by signal " + std::to_string(WTERMSIG(status));
  }
  if (!line.empty()) *error += ": " + line;
  return false;
}
