// Prints its argument count and whether the launcher told it where it lives; exits with 42.
#include <cstdio>
#include <cstdlib>

extern "C" __declspec(dllexport) int run_code(int argc, wchar_t** argv) {
  (void)argv;
  const wchar_t* directory = _wgetenv(L"OSVARI_ONEFILE_DIRECTORY");
  std::printf("arguments: %d\n", argc);
  std::printf("launcher directory set: %s\n", directory != nullptr ? "yes" : "no");
  std::fflush(stdout);
  return 42;
}
