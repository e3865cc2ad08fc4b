/* planted: what a user puts where an elevated program might run it. Run,
 * it leaves its mark, a file named after itself with ".ran" added, and exits
 * with 0.
 */
#include <windows.h>

int main(void) {
  wchar_t path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 1;
  lstrcatW(path, L".ran");
  HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (mark == INVALID_HANDLE_VALUE)
    return 1;
  CloseHandle(mark);
  return 0;
}
