/* A stand-in game for relaunch checks: writes the working directory it was
 * started in, as UTF-8 and without a line end, to "started.txt" beside its own
 * program file. Built for both hosts so that both runs relaunch the same thing.
 * Exit code 0 when the record was written, 1 otherwise. */
#ifdef _WIN32
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

/* A GUI-subsystem program like the game: no console is made for it. */
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
  (void)instance;
  (void)previous;
  (void)command_line;
  (void)show;
  /* The module path, not argv[0]: the command line may name the program
   * without its folder or suffix. */
  static wchar_t target[32768 + 16];
  DWORD n = GetModuleFileNameW(NULL, target, 32768);
  if (n == 0 || n >= 32768) return 1;
  wchar_t* slash = wcsrchr(target, L'\\');
  if (slash == NULL) return 1;
  wcscpy(slash + 1, L"started.txt");

  /* A deep install folder is handed over in its short form; the record names
   * the folder as the long form does. */
  static wchar_t cwd[32768], full[32768];
  DWORD length = GetCurrentDirectoryW(32768, cwd);
  if (length == 0 || length >= 32768) return 1;
  length = GetLongPathNameW(cwd, full, 32768);
  if (length == 0 || length >= 32768) return 1;
  static char text[4 * 32768 + 4];
  int bytes =
      WideCharToMultiByte(CP_UTF8, 0, full, (int)length, text, (int)sizeof text, NULL, NULL);
  if (bytes <= 0) return 1;

  FILE* out = _wfopen(target, L"wb");
  if (out == NULL) return 1;
  int ok = fwrite(text, 1, (size_t)bytes, out) == (size_t)bytes;
  return fclose(out) == 0 && ok ? 0 : 1;
}
#else
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  /* The updater starts the program by its full path, so argv[0] has the folder. */
  if (argc < 1) return 1;
  char target[PATH_MAX + 16];
  const char* slash = strrchr(argv[0], '/');
  if (slash == NULL || (size_t)(slash - argv[0]) + 1 + sizeof "started.txt" > sizeof target) {
    return 1;
  }
  size_t folder = (size_t)(slash - argv[0]) + 1;
  memcpy(target, argv[0], folder);
  strcpy(target + folder, "started.txt");

  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == NULL) return 1;
  FILE* out = fopen(target, "wb");
  if (out == NULL) return 1;
  size_t length = strlen(cwd);
  int ok = fwrite(cwd, 1, length, out) == length;
  return fclose(out) == 0 && ok ? 0 : 1;
}
#endif
