/* The folder an Osvari Onefile application's files were unpacked into, for C and C++.

   Every packed file lies in the folder of the application's own module: the unpacked program,
   or the main library (the DLL exporting run_code), in the run's unpack folder or in the cache
   folder. The current directory is the user's, so open packed files through these paths:

     wchar_t path[OSVARI_ONEFILE_PATH_CAPACITY];
     if (osvari_onefile_file(L"data\\hello.txt", path, OSVARI_ONEFILE_PATH_CAPACITY)) {
       FILE* file = _wfopen(path, L"rb");
       ...
     }

   The functions are static inline: each module that includes this header asks about itself. */
#ifndef OSVARI_ONEFILE_FOLDER_H
#define OSVARI_ONEFILE_FOLDER_H

#include <stddef.h>
#include <wchar.h>
#include <windows.h>

/* Room for the longest path Windows gives, with its terminator. */
#define OSVARI_ONEFILE_PATH_CAPACITY 32768

/* Writes the folder of the module that calls it, without a trailing backslash, into `buffer`
   (room for `capacity` wide characters). Returns its length; 0, with `buffer` empty, when the
   system cannot give the module's path or it does not fit. */
static inline size_t osvari_onefile_folder(wchar_t* buffer, size_t capacity) {
  /* An address inside this module: the module of whoever included this header. */
  static const char anchor = 0;
  HMODULE module = NULL;
  DWORD length;
  size_t cut;
  if (buffer == NULL || capacity == 0) return 0;
  buffer[0] = L'\0';
  if (capacity > OSVARI_ONEFILE_PATH_CAPACITY) capacity = OSVARI_ONEFILE_PATH_CAPACITY;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          (LPCWSTR)&anchor, &module)) {
    return 0;
  }
  length = GetModuleFileNameW(module, buffer, (DWORD)capacity);
  /* A result that fills the buffer was cut to fit. */
  if (length == 0 || length >= capacity) {
    buffer[0] = L'\0';
    return 0;
  }
  for (cut = length; cut > 0 && buffer[cut - 1] != L'\\' && buffer[cut - 1] != L'/'; --cut) {
  }
  if (cut == 0) {
    buffer[0] = L'\0';
    return 0;
  }
  buffer[cut - 1] = L'\0';
  return cut - 1;
}

/* Writes the folder, a backslash and `name` (a packed file's name relative to the folder, like
   L"greeting.txt" or L"data\\hello.txt") into `buffer`. Returns its length; 0, with `buffer`
   empty, when the folder cannot be had or the whole path does not fit. */
static inline size_t osvari_onefile_file(const wchar_t* name, wchar_t* buffer, size_t capacity) {
  size_t folder = osvari_onefile_folder(buffer, capacity);
  size_t name_length;
  if (folder == 0 || name == NULL) return 0;
  name_length = wcslen(name);
  if (name_length >= capacity - folder - 1) {
    buffer[0] = L'\0';
    return 0;
  }
  buffer[folder] = L'\\';
  wmemcpy(buffer + folder + 1, name, name_length + 1);
  return folder + 1 + name_length;
}

#endif /* OSVARI_ONEFILE_FOLDER_H */
