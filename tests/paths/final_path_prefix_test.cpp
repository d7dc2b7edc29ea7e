// Undoing the "\\?\" and "\\?\UNC\" forms that final paths come back in.
#include "paths/final_path_prefix.h"

#include <gtest/gtest.h>

namespace osvari {
namespace {

struct PrefixCase {
  std::wstring_view final_path;
  std::wstring_view expected;
};

TEST(UndoFinalPathPrefix, Table) {
  const PrefixCase cases[] = {
      {L"\\\\?\\C:\\apps\\tool.exe", L"C:\\apps\\tool.exe"},
      {L"\\\\?\\Z:\\", L"Z:\\"},
      {L"\\\\?\\C:", L"C:"},
      {L"\\\\?\\UNC\\server\\share\\tool.exe", L"\\\\server\\share\\tool.exe"},
      {L"\\\\?\\UNC\\", L"\\\\"},
      // Neither form: left alone.
      {L"C:\\apps\\tool.exe", L"C:\\apps\\tool.exe"},
      {L"\\\\server\\share\\tool.exe", L"\\\\server\\share\\tool.exe"},
      {L"\\\\?\\Volume{0a1b}\\tool.exe", L"\\\\?\\Volume{0a1b}\\tool.exe"},
      {L"\\\\?\\C", L"\\\\?\\C"},
      {L"\\\\?\\", L"\\\\?\\"},
      {L"\\\\?\\unc\\server\\share", L"\\\\?\\unc\\server\\share"},
      {L"\\\\?\\UNC", L"\\\\?\\UNC"},
      {L"\\\\.\\C:\\tool.exe", L"\\\\.\\C:\\tool.exe"},
      {L"\\\\?\\C:\\\\?\\UNC\\x", L"C:\\\\?\\UNC\\x"},
      {L"", L""},
  };
  for (const auto& [final_path, expected] : cases) {
    EXPECT_EQ(undo_final_path_prefix(final_path), expected) << "for " << std::wstring(final_path);
  }
}

}  // namespace
}  // namespace osvari
