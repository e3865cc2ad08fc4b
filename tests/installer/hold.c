/* hold UNTIL [--mutex NAME | --foreign-mutex NAME | --event NAME] [--deny VIEW KEY]
 *      [--acl VIEW KEY SDDL]...
 *
 * Holds what an installer test needs held until the file UNTIL exists: a
 * named mutex, as a running setup makes and holds it (its access list for
 * SYSTEM and Administrators) or as another program might (--foreign-mutex,
 * default security); a named event as a package's installation makes it
 * (the same access list); and registry keys (HKCR\... or
 * HKLM\..., in registry view VIEW, 32 or 64) with another access list:
 * --deny lets everyone read them and no one write them, as on a locked-down
 * system; --acl gives the access list SDDL (a "D:" string). Prints "ready"
 * once everything is in place; exits 1 when something could not be done.
 *
 * When UNTIL exists, each key gets its own access list back, through the
 * handle opened before it was changed (which keeps WRITE_DAC whatever the new
 * list says), and the list is read again: "restored" when every key has its
 * original list, else exit 1. Wine forgets key access lists only when its
 * server stops, so tests that share one server rely on this.
 */
#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

#define MOST_KEYS 16

struct held_key {
  const char* path;
  HKEY key;
  char* original; /* the access list as SDDL */
};
static struct held_key held[MOST_KEYS];
static int held_count;

/* The key's access list as SDDL (LocalFree it), or NULL. */
static char* access_list(HKEY key) {
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, NULL, &size);
  PSECURITY_DESCRIPTOR descriptor = LocalAlloc(LPTR, size ? size : 1);
  char* text = NULL;
  if (descriptor &&
      RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor, &size) == ERROR_SUCCESS)
    ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, NULL);
  LocalFree(descriptor);
  return text;
}

static LONG set_access_list(HKEY key, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = NULL;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            NULL))
    return (LONG)GetLastError();
  LONG error = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  return error;
}

static int hold_key(const char* view, const char* path, const char* sddl, REGSAM denied) {
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
  if (held_count == MOST_KEYS) {
    fprintf(stderr, "hold: more than %d keys\n", MOST_KEYS);
    return 0;
  }
  REGSAM wow = strcmp(view, "32") == 0 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  HKEY key;
  LONG error = RegOpenKeyExA(root, sub, 0, WRITE_DAC | READ_CONTROL | wow, &key);
  if (error != ERROR_SUCCESS) {
    fprintf(stderr, "hold: cannot open %s (view %s): %ld\n", path, view, error);
    return 0;
  }
  char* original = access_list(key);
  if (!original) {
    fprintf(stderr, "hold: cannot read the access list of %s\n", path);
    RegCloseKey(key);
    return 0;
  }
  held[held_count++] = (struct held_key){path, key, original};
  error = set_access_list(key, sddl);
  if (error != ERROR_SUCCESS) {
    fprintf(stderr, "hold: cannot set the access list %s of %s: %ld\n", sddl, path, error);
    return 0;
  }
  /* The proof that it holds: what the new list does not grant is refused. */
  HKEY again;
  if (RegOpenKeyExA(root, sub, 0, denied | wow, &again) == ERROR_SUCCESS) {
    RegCloseKey(again);
    fprintf(stderr, "hold: %s still opens with 0x%lx\n", path, (unsigned long)denied);
    return 0;
  }
  return 1;
}

/* Every key gets its own access list back; 1 when each reads as before. */
static int restore(void) {
  int restored = 1;
  for (int i = 0; i < held_count; ++i) {
    LONG error = set_access_list(held[i].key, held[i].original);
    char* now = access_list(held[i].key);
    if (error != ERROR_SUCCESS || !now || strcmp(now, held[i].original) != 0) {
      fprintf(stderr, "hold: %s has the access list %s, not %s again (%ld)\n", held[i].path,
              now ? now : "(unreadable)", held[i].original, error);
      restored = 0;
    }
    LocalFree(now);
    LocalFree(held[i].original);
    RegCloseKey(held[i].key);
  }
  return restored;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: hold UNTIL [--mutex NAME | --foreign-mutex NAME | --event NAME] "
                    "[--deny VIEW KEY] [--acl VIEW KEY SDDL]...\n");
    return 2;
  }
  int ok = 1;
  /* The access list of the installations' locks. */
  SECURITY_ATTRIBUTES setup = {sizeof setup, NULL, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          "D:P(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1, &setup.lpSecurityDescriptor, NULL))
    return 1;
  for (int i = 2; i < argc && ok; ++i) {
    int foreign = strcmp(argv[i], "--foreign-mutex") == 0;
    if (strcmp(argv[i], "--event") == 0 && i + 1 < argc) {
      if (!CreateEventA(&setup, TRUE, FALSE, argv[++i])) {
        fprintf(stderr, "hold: cannot make the event %s\n", argv[i]);
        ok = 0;
      }
    } else if ((foreign || strcmp(argv[i], "--mutex") == 0) && i + 1 < argc) {
      /* A program that has just ended may not have let go of it yet. */
      HANDLE mutex = CreateMutexA(foreign ? NULL : &setup, FALSE, argv[++i]);
      DWORD wait = mutex ? WaitForSingleObject(mutex, 10000) : WAIT_FAILED;
      if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        fprintf(stderr, "hold: cannot take the mutex %s\n", argv[i]);
        ok = 0;
      }
    } else if (strcmp(argv[i], "--deny") == 0 && i + 2 < argc) {
      /* Protected: nothing inherited grants more. KR: read; WD: everyone. */
      ok = hold_key(argv[i + 1], argv[i + 2], "D:P(A;;KR;;;WD)", KEY_SET_VALUE);
      i += 2;
    } else if (strcmp(argv[i], "--acl") == 0 && i + 3 < argc) {
      /* Every list a test gives withholds something. */
      ok = hold_key(argv[i + 1], argv[i + 2], argv[i + 3], KEY_ALL_ACCESS);
      i += 3;
    } else {
      fprintf(stderr, "hold: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  if (ok) {
    printf("ready\n");
    fflush(stdout);
    while (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES)
      Sleep(100);
  }
  /* Also when something failed halfway: what was changed goes back. */
  if (!restore())
    return 1;
  if (held_count) {
    printf("restored\n");
    fflush(stdout);
  }
  return ok ? 0 : 1;
}
