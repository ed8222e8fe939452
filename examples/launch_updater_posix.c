/* A game's side of an update, on Linux: hand the downloaded archive to
 * zrk-update and exit at once; on the next start, learn from the marker file
 * whether the update went in, and hand it over again when it did not.
 *
 *   launch-updater UPDATER INSTALL ARCHIVE GAME
 *
 * ARCHIVE is the archive last handed over, under a name of its own for each
 * update. Exit code 0: INSTALL/.update/applied.ok names it, the update is in and
 * the game goes on. 2: the updater was started, to install ARCHIVE and then
 * start GAME in INSTALL, and the game must exit now, since the updater waits
 * for it. 1: the updater could not be started, and 3: ARCHIVE was handed over
 * kMaxHandOvers times without going in; the game goes on with what it has. */
#define _GNU_SOURCE /* posix_spawn_file_actions_addclosefrom_np */
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern char** environ;

/* How often one archive is handed over. Once is not always enough: a power
 * cut during the swap leaves an update that only a second run completes. No
 * limit is worse: an archive the updater refuses, or a swap that fails every
 * time and starts the game again, would start the updater on every start of
 * the game, for ever. */
enum { kMaxHandOvers = 3 };

/* The archive's file name, cut as the updater cuts it for the marker. */
static const char* file_name(const char* path) {
  const char* name = path;
  for (const char* c = path; *c != '\0'; ++c) {
    if (*c == '/' || *c == '\\') name = c + 1;
  }
  return name;
}

/* Whether INSTALL/.update/applied.ok is the line "applied " + the archive's
 * file name. The updater writes it whole, after the swap and before anything
 * else, so a run cut short leaves the marker of the update before. */
static int update_applied(const char* install, const char* archive) {
  const char* name = file_name(archive);
  char* expected = malloc(strlen(name) + 16);
  char* marker = malloc(strlen(install) + 32);
  int applied = 0;
  if (expected != NULL && marker != NULL) {
    const int length = sprintf(expected, "applied %s\n", name);
    sprintf(marker, "%s/.update/applied.ok", install);
    FILE* file = fopen(marker, "rb");
    if (file != NULL) {
      /* One byte more than expected, to see a longer marker. */
      char* text = malloc((size_t)length + 1);
      applied = text != NULL && fread(text, 1, (size_t)length + 1, file) == (size_t)length &&
                memcmp(text, expected, (size_t)length) == 0;
      free(text);
      fclose(file);
    }
  }
  free(expected);
  free(marker);
  return applied;
}

/* Starts the updater to wait for this process, install ARCHIVE and start
 * GAME. It gets a session of its own, so that it outlives the game and its
 * terminal, and none of the game's open files (the game may hold one that the
 * update replaces): its standard streams read and write /dev/null, and every
 * other descriptor is closed. Signals the game blocks or ignores are back to
 * normal for it. Returns 0 when the updater runs. */
static int start_updater(const char* updater, const char* install, const char* archive,
                         const char* game) {
  char pid[24];
  snprintf(pid, sizeof pid, "%ld", (long)getpid());
  char* const argv[] = {(char*)updater, "--install", (char*)install, "--archive", (char*)archive,
                        "--pid",        pid,         "--relaunch",   (char*)game, NULL};

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  sigset_t none, to_default;
  sigemptyset(&none);
  sigemptyset(&to_default);
  sigaddset(&to_default, SIGPIPE);
  sigaddset(&to_default, SIGHUP);
  sigaddset(&to_default, SIGCHLD);
  if (posix_spawn_file_actions_init(&actions) != 0) return 1;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return 1;
  }
  int error = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (error == 0) error = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (error == 0) error = posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (error == 0) {
    error = posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (error == 0) error = posix_spawnattr_setsigmask(&attributes, &none);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &to_default);
  pid_t child;
  /* posix_spawn reports an updater that cannot be executed; fork and exec
   * would only see it in the child. */
  if (error == 0) error = posix_spawn(&child, updater, &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? 0 : 1;
}

/* The game's count of the hand-overs of ARCHIVE, in a file beside it. */
static int read_hand_overs(const char* counter) {
  int count = 0;
  FILE* file = fopen(counter, "rb");
  if (file == NULL) return 0;
  if (fscanf(file, "%d", &count) != 1) count = 0;
  fclose(file);
  return count;
}

static int write_hand_overs(const char* counter, int count) {
  FILE* file = fopen(counter, "wb");
  if (file == NULL) return 1;
  const int written = fprintf(file, "%d\n", count) > 0;
  return fclose(file) == 0 && written ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: launch-updater UPDATER INSTALL ARCHIVE GAME\n");
    return 1;
  }
  const char* updater = argv[1];
  const char* install = argv[2];
  const char* archive = argv[3];
  const char* game = argv[4];
  if (update_applied(install, archive)) {
    printf("%s is installed\n", file_name(archive));
    return 0;
  }
  char* counter = malloc(strlen(archive) + 16);
  if (counter == NULL) return 1;
  sprintf(counter, "%s.handed-over", archive);
  const int hand_overs = read_hand_overs(counter);
  int code = 2;
  if (hand_overs >= kMaxHandOvers) {
    fprintf(stderr, "%s did not go in after %d tries\n", file_name(archive), hand_overs);
    code = 3;
  } else if (write_hand_overs(counter, hand_overs + 1) != 0 ||
             start_updater(updater, install, archive, game) != 0) {
    /* Counted before the start: a count that cannot be kept is no limit. */
    fprintf(stderr, "could not start %s\n", updater);
    code = 1;
  }
  free(counter);
  /* Nothing more after a start: the updater waits for this process to end. */
  return code;
}
