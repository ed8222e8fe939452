/* A game's side of an update, on Windows: hand the downloaded archive to
 * zrk-update.exe and exit at once; on the next start, learn from the marker file
 * whether the update went in, and hand it over again when it did not.
 *
 *   launch-updater.exe UPDATER INSTALL ARCHIVE GAME
 *
 * ARCHIVE is the archive last handed over, under a name of its own for each
 * update. Exit code 0: INSTALL\.update\applied.ok names it, the update is in and
 * the game goes on. 2: the updater was started, to install ARCHIVE and then
 * start GAME in INSTALL, and the game must exit now, since the updater waits
 * for it. 1: the updater could not be started, and 3: ARCHIVE was handed over
 * kMaxHandOvers times without going in; the game goes on with what it has. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

/* How often one archive is handed over. Once is not always enough: a power
 * cut during the swap leaves an update that only a second run completes. No
 * limit is worse: an archive the updater refuses, or a swap that fails every
 * time and starts the game again, would start the updater on every start of
 * the game, for ever. */
enum { kMaxHandOvers = 3 };

/* The archive's file name, cut as the updater cuts it for the marker. */
static const wchar_t* file_name(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* c = path; *c != L'\0'; ++c) {
    if (*c == L'/' || *c == L'\\') name = c + 1;
  }
  return name;
}

/* Whether INSTALL\.update\applied.ok is the line "applied " + the archive's
 * file name, in UTF-8. The updater writes it whole, after the swap and before
 * anything else, so a run cut short leaves the marker of the update before. */
static int update_applied(const wchar_t* install, const wchar_t* archive) {
  const wchar_t* name = file_name(archive);
  const int name_bytes = WideCharToMultiByte(CP_UTF8, 0, name, -1, NULL, 0, NULL, NULL);
  char* expected = malloc((size_t)name_bytes + 16);
  wchar_t* marker = malloc((wcslen(install) + 32) * sizeof(wchar_t));
  int applied = 0;
  if (name_bytes > 0 && expected != NULL && marker != NULL) {
    strcpy(expected, "applied ");
    WideCharToMultiByte(CP_UTF8, 0, name, -1, expected + 8, name_bytes, NULL, NULL);
    strcat(expected, "\n");
    const size_t length = strlen(expected);
    swprintf(marker, wcslen(install) + 32, L"%ls\\.update\\applied.ok", install);
    FILE* file = _wfopen(marker, L"rb");
    if (file != NULL) {
      /* One byte more than expected, to see a longer marker. */
      char* text = malloc(length + 1);
      applied = text != NULL && fread(text, 1, length + 1, file) == length &&
                memcmp(text, expected, length) == 0;
      free(text);
      fclose(file);
    }
  }
  free(expected);
  free(marker);
  return applied;
}

/* Appends ARG in double quotes, written so that the updater's
 * CommandLineToArgvW gives it back as it is: backslashes are doubled where a
 * quote follows them, as before the closing quote of "C:\Games\ZR\". */
static wchar_t* append_quoted(wchar_t* out, const wchar_t* arg) {
  *out++ = L'"';
  for (const wchar_t* c = arg;; ++c) {
    size_t backslashes = 0;
    while (*c == L'\\') {
      ++backslashes;
      ++c;
    }
    if (*c == L'\0' || *c == L'"') {
      /* Each backslash doubled; a quote in the text is escaped as well. */
      for (size_t i = 0; i < 2 * backslashes; ++i) *out++ = L'\\';
      if (*c == L'\0') break;
      *out++ = L'\\';
      *out++ = L'"';
    } else {
      for (size_t i = 0; i < backslashes; ++i) *out++ = L'\\';
      *out++ = *c;
    }
  }
  *out++ = L'"';
  return out;
}

/* Starts the updater to wait for this process, install ARCHIVE and start
 * GAME. It inherits no handle of the game (the game may hold a file open that
 * the update replaces) and gets neither the game's console nor its Ctrl-C.
 * Returns 0 when the updater runs. */
static int start_updater(const wchar_t* updater, const wchar_t* install, const wchar_t* archive,
                         const wchar_t* game) {
  wchar_t pid[16];
  swprintf(pid, 16, L"%lu", (unsigned long)GetCurrentProcessId());
  const wchar_t* const args[] = {updater,  L"--install", install,       L"--archive", archive,
                                 L"--pid", pid,          L"--relaunch", game};
  const size_t count = sizeof args / sizeof args[0];
  size_t size = 1;
  for (size_t i = 0; i < count; ++i) size += 2 * wcslen(args[i]) + 3;
  wchar_t* command_line = malloc(size * sizeof(wchar_t));
  if (command_line == NULL) return 1;
  wchar_t* end = command_line;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) *end++ = L' ';
    end = append_quoted(end, args[i]);
  }
  *end = L'\0';

  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  const BOOL started =
      CreateProcessW(updater, command_line, NULL, NULL, FALSE,
                     CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS, NULL, NULL, &startup, &process);
  free(command_line);
  if (!started) return 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

/* The game's count of the hand-overs of ARCHIVE, in a file beside it. */
static int read_hand_overs(const wchar_t* counter) {
  int count = 0;
  FILE* file = _wfopen(counter, L"rb");
  if (file == NULL) return 0;
  if (fscanf(file, "%d", &count) != 1) count = 0;
  fclose(file);
  return count;
}

static int write_hand_overs(const wchar_t* counter, int count) {
  FILE* file = _wfopen(counter, L"wb");
  if (file == NULL) return 1;
  const int written = fprintf(file, "%d\n", count) > 0;
  return fclose(file) == 0 && written ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    fwprintf(stderr, L"usage: launch-updater UPDATER INSTALL ARCHIVE GAME\n");
    return 1;
  }
  const wchar_t* updater = argv[1];
  const wchar_t* install = argv[2];
  const wchar_t* archive = argv[3];
  const wchar_t* game = argv[4];
  if (update_applied(install, archive)) {
    wprintf(L"%ls is installed\n", file_name(archive));
    return 0;
  }
  const size_t counter_size = wcslen(archive) + 16;
  wchar_t* counter = malloc(counter_size * sizeof(wchar_t));
  if (counter == NULL) return 1;
  swprintf(counter, counter_size, L"%ls.handed-over", archive);
  const int hand_overs = read_hand_overs(counter);
  int code = 2;
  if (hand_overs >= kMaxHandOvers) {
    fwprintf(stderr, L"%ls did not go in after %d tries\n", file_name(archive), hand_overs);
    code = 3;
  } else if (write_hand_overs(counter, hand_overs + 1) != 0 ||
             start_updater(updater, install, archive, game) != 0) {
    /* Counted before the start: a count that cannot be kept is no limit. */
    fwprintf(stderr, L"could not start %ls\n", updater);
    code = 1;
  }
  free(counter);
  /* Nothing more after a start: the updater waits for this process to end. */
  return code;
}
