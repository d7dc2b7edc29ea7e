// A small packaged application: shows what a program started from a onefile executable sees.
// Build it as a DLL that exports run_code, pack it with its data folder, and run the .exe.
#include <osvari/onefile_folder.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

void print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string utf8(const std::wstring& text) {
  const std::u8string converted = std::filesystem::path(text).u8string();
  return std::string(converted.begin(), converted.end());
}

// Where the packed files lie: beside this DLL, wherever the launcher unpacked it.
std::filesystem::path own_directory() {
  static wchar_t folder[OSVARI_ONEFILE_PATH_CAPACITY];
  osvari_onefile_folder(folder, OSVARI_ONEFILE_PATH_CAPACITY);
  return folder;
}

}  // namespace

extern "C" __declspec(dllexport) int run_code(int argc, wchar_t** argv) {
  print("Hello from the demo application.\n\nArguments:\n");
  int exit_code = 0;
  for (int i = 0; i < argc; ++i) {
    print("  [" + std::to_string(i) + "] " + utf8(argv[i]) + "\n");
    if (std::wstring(argv[i]) == L"--exit-code" && i + 1 < argc) exit_code = std::wcstol(argv[i + 1], nullptr, 10);
  }

  print("\nEnvironment:\n");
  for (const wchar_t* name : {L"OSVARI_ONEFILE_PARENT", L"OSVARI_ONEFILE_START", L"OSVARI_ONEFILE_DIRECTORY",
                              L"OSVARI_ORIGINAL_ARGV0"}) {
    const wchar_t* value = _wgetenv(name);
    print("  " + utf8(name) + "=" + (value ? utf8(value) : std::string("(not set)")) + "\n");
  }

  const std::filesystem::path directory = own_directory();
  print("\nUnpacked into " + utf8(directory.wstring()) + ":\n");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    if (!entry.is_regular_file()) continue;
    print("  " + utf8(entry.path().lexically_relative(directory).wstring()) + " (" +
          std::to_string(entry.file_size()) + " bytes)\n");
  }

  std::ifstream greeting(directory / L"greeting.txt", std::ios::binary);
  std::ostringstream text;
  text << greeting.rdbuf();
  print("\ngreeting.txt says: " + text.str() + "\nExiting with code " + std::to_string(exit_code) + ".\n");
  std::fflush(stdout);
  return exit_code;
}
