/* hold UNTIL [--mutex NAME] [--deny VIEW KEY]...
 *
 * Holds what an installer test needs held until the file UNTIL exists: a
 * named mutex (as a running setup holds it), and registry keys (HKCR\... or
 * HKLM\..., in registry view VIEW, 32 or 64) whose access list lets everyone
 * read them and no one write them, as on a locked-down system. Wine forgets
 * a key's access list when its server restarts; this process keeps the
 * server running. Prints "ready" once everything is in place; exits 1 when
 * something could not be done.
 */
#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

static int deny(const char* view, const char* path) {
  HKEY root;
  const char* sub;
  if (strncmp(path, "HKCR\\", 5) == 0) {
    root = HKEY_CLASSES_ROOT;
    sub = path + 5;
  } else if (strncmp(path, "HKLM\\", 5) == 0) {
    root = HKEY_LOCAL_MACHINE;
    sub = path + 5;
  } else {
    fprintf(stderr, "hold: %s is not under HKCR or HKLM\n", path);
    return 0;
  }
  REGSAM wow = strcmp(view, "32") == 0 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  HKEY key;
  LONG error = RegOpenKeyExA(root, sub, 0, WRITE_DAC | READ_CONTROL | wow, &key);
  if (error != ERROR_SUCCESS) {
    fprintf(stderr, "hold: cannot open %s (view %s): %ld\n", path, view, error);
    return 0;
  }
  PSECURITY_DESCRIPTOR descriptor = NULL;
  /* Protected: nothing inherited grants more. KR: read; WD: everyone. */
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                            &descriptor, NULL)) {
    fprintf(stderr, "hold: no security descriptor: %lu\n", GetLastError());
    RegCloseKey(key);
    return 0;
  }
  error = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS) {
    fprintf(stderr, "hold: cannot set the access list of %s: %ld\n", path, error);
    return 0;
  }
  /* The proof that it holds: opening it for writing now fails. */
  if (RegOpenKeyExA(root, sub, 0, KEY_SET_VALUE | wow, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
    fprintf(stderr, "hold: %s can still be written\n", path);
    return 0;
  }
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: hold UNTIL [--mutex NAME] [--deny VIEW KEY]...\n");
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--mutex") == 0 && i + 1 < argc) {
      /* A program that has just ended may not have let go of it yet. */
      HANDLE mutex = CreateMutexA(NULL, FALSE, argv[++i]);
      DWORD wait = mutex ? WaitForSingleObject(mutex, 10000) : WAIT_FAILED;
      if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        fprintf(stderr, "hold: cannot take the mutex %s\n", argv[i]);
        return 1;
      }
    } else if (strcmp(argv[i], "--deny") == 0 && i + 2 < argc) {
      if (!deny(argv[i + 1], argv[i + 2]))
        return 1;
      i += 2;
    } else {
      fprintf(stderr, "hold: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  printf("ready\n");
  fflush(stdout);
  while (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES)
    Sleep(100);
  return 0;
}
