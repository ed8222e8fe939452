/* A stand-in for the running game on Windows:
 *
 *   stand-in-game PID_FILE MILLISECONDS [HELD_FILE [LATER_FILE]]
 *
 * Opens HELD_FILE (when given) for reading without delete sharing, as a game
 * holds its data files, then writes its own process id to PID_FILE, sleeps
 * MILLISECONDS and exits with 0. The id file appears only once the hold is in
 * place. LATER_FILE is held the same way as soon as it appears within those
 * MILLISECONDS, as a virus scanner takes a file that has just been written.
 * Exit code 1 when a step fails. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3 || argc > 5) return 1;
  if (argc >= 4) {
    HANDLE held = CreateFileW(argv[3], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE) return 1;
  }
  /* Written under another name and renamed, so a reader never sees half a number. */
  wchar_t partial[MAX_PATH + 8];
  if (wcslen(argv[1]) >= MAX_PATH) return 1;
  swprintf(partial, MAX_PATH + 8, L"%ls.part", argv[1]);
  FILE* out = _wfopen(partial, L"wb");
  if (out == NULL) return 1;
  int ok = fprintf(out, "%lu", (unsigned long)GetCurrentProcessId()) > 0;
  if (fclose(out) != 0 || !ok) return 1;
  if (!MoveFileExW(partial, argv[1], MOVEFILE_REPLACE_EXISTING)) return 1;
  const DWORD milliseconds = (DWORD)wcstoul(argv[2], NULL, 10);
  const ULONGLONG end = GetTickCount64() + milliseconds;
  if (argc == 5) {
    while (GetTickCount64() < end &&
           CreateFileW(argv[4], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL) == INVALID_HANDLE_VALUE) {
      Sleep(1);
    }
  }
  const ULONGLONG now = GetTickCount64();
  if (now < end) Sleep((DWORD)(end - now));
  return 0;
}
