/* A preloaded library for tests: it stands between the updater and a few libc
 * calls (rename, link, fopen, open, remove, unlinkat, posix_spawn, and the flushes
 * fsync, fdatasync and syncfs) and, on the calls a rule names, either fails
 * them with an error number or stops the process in its tracks so that the
 * test can kill it at exactly that point.
 *
 * ZRK_FAULT_RULES  rules, one per line: "FN FIRST LAST ACTION PATTERN"
 *                  FN       one of the calls above
 *                  FIRST    number of the first matching call the rule takes (1-based)
 *                  LAST     number of the last one, 0 for no end
 *                  ACTION   "pause", or an error number the call fails with
 *                  PATTERN  fnmatch pattern, "*" stopping at "/", for the call's
 *                           first path, or the path of a flushed descriptor
 *                           (the rest of the line, blanks included); empty
 *                           matches every call
 *                  Each rule counts the calls that match its own FN and PATTERN.
 * ZRK_FAULT_FLAG   file created when a pause begins; it holds "FN PATH".
 * ZRK_FAULT_TRACE  file to which every call is appended as "FN PATH" lines.
 *
 * The variables and LD_PRELOAD are taken out of the environment at load, so a
 * program the updater starts runs without the shim. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define MAX_RULES 8
#define MAX_TEXT 4096

struct rule {
  char fn[16];
  long first;
  long last;
  int pause;
  int error;
  char pattern[MAX_TEXT];
  long seen;
};

static struct rule rules[MAX_RULES];
static int rule_count;
static char flag_path[MAX_TEXT];
static char trace_path[MAX_TEXT];

static void copy_text(char* to, const char* from, size_t size) {
  if (from == NULL) {
    to[0] = '\0';
    return;
  }
  strncpy(to, from, size - 1);
  to[size - 1] = '\0';
}

static int parse_rule(const char* line, size_t length, struct rule* out) {
  char text[MAX_TEXT];
  if (length >= sizeof text) return 0;
  memcpy(text, line, length);
  text[length] = '\0';
  char action[32];
  int pattern_at = 0;
  if (sscanf(text, "%15s %ld %ld %31s %n", out->fn, &out->first, &out->last, action, &pattern_at) !=
          4 ||
      pattern_at == 0) {
    return 0;
  }
  out->pause = strcmp(action, "pause") == 0;
  out->error = out->pause ? 0 : atoi(action);
  copy_text(out->pattern, text + pattern_at, sizeof out->pattern);
  out->seen = 0;
  return out->pause || out->error > 0;
}

__attribute__((constructor)) static void load_rules(void) {
  const char* text = getenv("ZRK_FAULT_RULES");
  while (text != NULL && *text != '\0' && rule_count < MAX_RULES) {
    const char* end = strchr(text, '\n');
    const size_t length = end == NULL ? strlen(text) : (size_t)(end - text);
    if (parse_rule(text, length, &rules[rule_count])) ++rule_count;
    text = end == NULL ? NULL : end + 1;
  }
  copy_text(flag_path, getenv("ZRK_FAULT_FLAG"), sizeof flag_path);
  copy_text(trace_path, getenv("ZRK_FAULT_TRACE"), sizeof trace_path);
  unsetenv("ZRK_FAULT_RULES");
  unsetenv("ZRK_FAULT_FLAG");
  unsetenv("ZRK_FAULT_TRACE");
  unsetenv("LD_PRELOAD");
}

typedef void (*any_function)(void);

/* The libc function this file stands in front of. The copy, not a cast, keeps
 * ISO C's line between object and function pointers. */
static any_function next_symbol(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  any_function function;
  memcpy(&function, &symbol, sizeof function);
  return function;
}

typedef int (*open_function)(const char*, int, ...);

/* libc's own open, which the shim's own files go through. */
static int real_open(const char* path, int flags, mode_t mode) {
  static open_function real;
  if (real == NULL) real = (open_function)next_symbol("open");
  return real(path, flags, mode);
}

/* Plain write(2), never stdio: fopen is one of the calls this file replaces. */
static void write_line(const char* file, const char* fn, const char* path) {
  const int fd = real_open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char line[MAX_TEXT + 32];
  const int n = snprintf(line, sizeof line, "%s %s\n", fn, path);
  if (n > 0) {
    const ssize_t ignored = write(fd, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
    (void)ignored;
  }
  close(fd);
}

/* The flag appears whole: a test that sees the file reads the full line. */
static void raise_flag(const char* fn, const char* path) {
  char part[MAX_TEXT + 8];
  snprintf(part, sizeof part, "%s.part", flag_path);
  write_line(part, fn, path);
  int (*real_rename)(const char*, const char*) =
      (int (*)(const char*, const char*))next_symbol("rename");
  real_rename(part, flag_path);
}

/* Returns the error number the call must fail with, 0 to let it through; does
 * not return when a pause rule takes the call. */
static int fault_for(const char* fn, const char* path) {
  if (trace_path[0] != '\0') write_line(trace_path, fn, path);
  int error = 0;
  for (int i = 0; i < rule_count; ++i) {
    struct rule* r = &rules[i];
    if (strcmp(r->fn, fn) != 0) continue;
    if (r->pattern[0] != '\0' && fnmatch(r->pattern, path, FNM_PATHNAME) != 0) continue;
    const long n = ++r->seen;
    if (n < r->first || (r->last != 0 && n > r->last)) continue;
    if (r->pause) {
      if (flag_path[0] != '\0') raise_flag(fn, path);
      for (;;) pause();
    }
    if (error == 0) error = r->error;
  }
  return error;
}

int rename(const char* from, const char* to) {
  static int (*real)(const char*, const char*);
  if (real == NULL) real = (int (*)(const char*, const char*))next_symbol("rename");
  const int error = fault_for("rename", from);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return real(from, to);
}

int link(const char* from, const char* to) {
  static int (*real)(const char*, const char*);
  if (real == NULL) real = (int (*)(const char*, const char*))next_symbol("link");
  const int error = fault_for("link", from);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return real(from, to);
}

static FILE* open_stream(const char* symbol, const char* path, const char* mode) {
  FILE* (*real)(const char*, const char*) =
      (FILE * (*)(const char*, const char*)) next_symbol(symbol);
  const int error = fault_for("fopen", path);
  if (error != 0) {
    errno = error;
    return NULL;
  }
  return real(path, mode);
}

FILE* fopen(const char* path, const char* mode) { return open_stream("fopen", path, mode); }
FILE* fopen64(const char* path, const char* mode) { return open_stream("fopen64", path, mode); }

int remove(const char* path) {
  static int (*real)(const char*);
  if (real == NULL) real = (int (*)(const char*))next_symbol("remove");
  const int error = fault_for("remove", path);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return real(path);
}

int unlinkat(int dir, const char* path, int flags) {
  static int (*real)(int, const char*, int);
  if (real == NULL) real = (int (*)(int, const char*, int))next_symbol("unlinkat");
  const int error = fault_for("unlinkat", path);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return real(dir, path, flags);
}

/* The mode is there only when the flags create a file. */
static int open_file(const char* symbol, const char* path, int flags, va_list rest) {
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? (mode_t)va_arg(rest, int) : 0;
  const open_function real = (open_function)next_symbol(symbol);
  const int error = fault_for("open", path);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return real(path, flags, mode);
}

int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = open_file("open", path, flags, rest);
  va_end(rest);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = open_file("open64", path, flags, rest);
  va_end(rest);
  return fd;
}

typedef int (*spawn_function)(pid_t*, const char*, const posix_spawn_file_actions_t*,
                              const posix_spawnattr_t*, char* const[], char* const[]);

/* posix_spawn reports its failure as the return value, not in errno. */
int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
  const spawn_function real = (spawn_function)next_symbol("posix_spawn");
  const int error = fault_for("posix_spawn", path);
  if (error != 0) return error;
  return real(pid, path, actions, attributes, argv, envp);
}

/* What the kernel calls the file or folder a descriptor is open on. */
static void descriptor_path(int fd, char* path, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, size - 1);
  path[n < 0 ? 0 : n] = '\0';
}

static int flush(const char* symbol, int fd) {
  int (*real)(int) = (int (*)(int))next_symbol(symbol);
  char path[MAX_TEXT];
  descriptor_path(fd, path, sizeof path);
  const int error = fault_for(symbol, path);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return real(fd);
}

int fsync(int fd) { return flush("fsync", fd); }
int fdatasync(int fd) { return flush("fdatasync", fd); }
int syncfs(int fd) { return flush("syncfs", fd); }
