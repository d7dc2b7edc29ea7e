// osvari-pack run as a program: what it writes, and what it refuses.
#include <zstd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "base/little_endian.h"
#include "payload/application_kind.h"
#include "payload/cache_index.h"
#include "tests/tools/pack/support/pack_test_support.h"
#include "tests/tools/pack/support/pe_image_builder.h"
#include "tools/pack/attached_data/cache_index_writer.h"
#include "tools/pack/command_line/pack_feedback.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;

// Bytes that do not compress to nothing and are easy to check at any offset.
std::string patterned(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

// An x86-64 console program, or one built for `machine`.
std::string program_image(std::uint16_t machine = 0x8664) {
  std::string image = build_pe_image({.machine = machine, .characteristics = 0x0022});
  put_u16(image, pe_layout::optional_header + 68, 3);
  return image;
}

// A program whose .NET runtime header (laid over the export directory) says it holds
// intermediate language only.
std::string managed_image() {
  std::string image = program_image();
  const std::size_t runtime_directory = pe_layout::optional_header + 112 + 14 * 8;
  put_u32(image, runtime_directory, pe_layout::export_section_address);
  put_u32(image, runtime_directory + 4, 72);
  put_u32(image, pe_layout::export_section + 16, 1);
  return image;
}

class PackProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(folder / "app.dll", build_pe_image());
    fs::create_directories(folder / "out");
  }

  // Packs the attached data alone, quietly: nothing on either stream.
  std::string pack_ok(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--quiet", "--attached-data-only"});
    const PackRun run = run_pack(arguments);
    EXPECT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.output, "");
    return read_file(output());
  }

  std::string output() const { return (folder / "out" / "app.bin").string(); }
  std::string path(const char* relative) const { return (folder / relative).string(); }

  TemporaryFolder folder;
};

TEST_F(PackProgram, RoundTripsNamesAndBytesInSortedOrder) {
  const std::string big = patterned(5 * 1024 * 1024 + 17, 1);  // several read chunks and blocks
  write_file(folder / "data/a/b.txt", "bee");
  write_file(folder / "data/a/c/d.bin", big);
  write_file(folder / "data/empty.txt", "");
  write_file(folder / "data/Z.txt", "capital");
  write_file(folder / "data/\xC3\xB1" "and\xC3\xBA-\xD0\x96.txt", "non-ASCII");
  // Sorted by UTF-16 code units, U+1F600 (0xD83D 0xDE00) comes before U+FF61; UTF-8 bytes say otherwise.
  write_file(folder / "data/\xEF\xBD\xA1.txt", "halfwidth");
  write_file(folder / "data/\xF0\x9F\x98\x80.txt", "emoji");
  write_file(folder / "loose/readme.md", "read me");

  const std::string attached = pack_ok({"--level", "3", "-o", output(), path("app.dll"), path("data"),
                                        path("loose/readme.md")});
  const std::vector<DecodedEntry> entries = decode_attached_data(attached);

  const std::vector<std::pair<std::u16string, std::string>> expected = {
      {u"app.dll", build_pe_image()},
      {u"Z.txt", "capital"},
      {u"a\\b.txt", "bee"},
      {u"a\\c\\d.bin", big},
      {u"empty.txt", ""},
      {u"readme.md", "read me"},
      {u"\u00F1and\u00FA-\u0416.txt", "non-ASCII"},
      {u"\U0001F600.txt", "emoji"},
      {u"\uFF61.txt", "halfwidth"},
  };
  ASSERT_EQ(entries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(entries[i].name, expected[i].first) << i;
    EXPECT_TRUE(entries[i].contents == expected[i].second) << "contents of entry " << i;
  }
}

// --cache puts the index before the very frame a plain pack writes; decoders skip it, and it
// names that frame by its hash and lists every entry's name and size.
TEST_F(PackProgram, WithCacheWritesTheIndexBeforeTheSameFrame) {
  write_file(folder / "data/a/b.txt", "bee");
  write_file(folder / "data/big.bin", patterned(300'000, 3));
  const std::vector<std::string> inputs{path("app.dll"), path("data")};
  std::vector<std::string> plain_arguments{"--level", "3", "-o", output()};
  plain_arguments.insert(plain_arguments.end(), inputs.begin(), inputs.end());
  const std::string plain = pack_ok(plain_arguments);
  std::vector<std::string> cache_arguments = plain_arguments;
  cache_arguments.insert(cache_arguments.begin(), "--cache");
  const std::string cached = pack_ok(cache_arguments);

  const std::string_view frame = std::string_view(plain).substr(3, plain.size() - 3 - 13);
  ASSERT_GT(cached.size(), plain.size());
  const std::size_t index_size = cached.size() - plain.size();
  EXPECT_EQ(std::string_view(cached).substr(3 + index_size, frame.size()), frame);
  EXPECT_EQ(little_endian_value(std::string_view(cached).substr(cached.size() - 8)), cached.size() - 8);

  const CacheIndexResult index = read_cache_index(reinterpret_cast<const unsigned char*>(cached.data()) + 3, index_size);
  ASSERT_EQ(index.status, CacheIndexStatus::present);
  const std::string id = pack::attached_data_id(frame);
  EXPECT_EQ(index.index.id, std::wstring(id.begin(), id.end()));
  const std::vector<DecodedEntry> entries = decode_attached_data(cached);
  ASSERT_EQ(entries.size(), index.index.entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(std::u16string(index.index.entries[i].name.begin(), index.index.entries[i].name.end()), entries[i].name);
    EXPECT_EQ(index.index.entries[i].size, entries[i].contents.size());
  }
  EXPECT_EQ(entries.size(), decode_attached_data(plain).size());
}

TEST_F(PackProgram, PacksAnOrdinaryProgramByItsHeaderWithTheRecordThatSaysSo) {
  // Named neither .exe nor .dll: the header decides.
  write_file(folder / "tool.bin", program_image());
  write_file(folder / "data/lib.dll", build_pe_image());
  const std::string attached = pack_ok({"-o", output(), path("tool.bin"), path("data")});

  const auto* stream = reinterpret_cast<const unsigned char*>(attached.data()) + 3;
  EXPECT_EQ(read_application_kind(stream, attached.size() - 3), ApplicationKind::program);
  const std::vector<DecodedEntry> entries = decode_attached_data(attached);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, u"tool.bin");
  EXPECT_EQ(entries[0].contents, program_image());
  EXPECT_EQ(entries[1].name, u"lib.dll");

  const PackRun listed = run_pack({"--list", output()});
  EXPECT_EQ(listed.exit_code, 0) << listed.errors;
  EXPECT_NE(listed.output.find("the first entry is a program, which the launcher starts itself\n"), std::string::npos)
      << listed.output;
  const PackRun verified = run_pack({"--verify", output()});
  EXPECT_EQ(verified.exit_code, 0) << verified.errors;
  EXPECT_TRUE(verified.output.starts_with("OK: ")) << verified.output;

  // With the cache index first, the record follows it and both are read.
  const std::string cached = pack_ok({"--cache", "-o", output(), path("tool.bin")});
  const auto* cached_stream = reinterpret_cast<const unsigned char*>(cached.data()) + 3;
  EXPECT_EQ(read_application_kind(cached_stream, cached.size() - 3), ApplicationKind::program);
  EXPECT_EQ(read_cache_index(cached_stream, cached.size() - 3).status, CacheIndexStatus::present);
  EXPECT_EQ(run_pack({"--verify", output()}).exit_code, 0);

  // A main library's data carries no record: it reads as it always did.
  const std::string library = pack_ok({"-o", output(), path("app.dll")});
  EXPECT_EQ(read_application_kind(reinterpret_cast<const unsigned char*>(library.data()) + 3, library.size() - 3),
            ApplicationKind::library);
  EXPECT_EQ(run_pack({"--list", output()}).output.find("program"), std::string::npos);
}

TEST_F(PackProgram, AcceptsADirectoryGivenWithATrailingSlashAndNamesOf1023Units) {
  const std::string long_name(255, 'x');
  // 4 * 255 + 3 separators = 1023 code units.
  write_file(folder / "data" / long_name / long_name / long_name / long_name, "deep");
  const std::vector<DecodedEntry> entries =
      decode_attached_data(pack_ok({"--level", "1", "-o", output(), path("app.dll"), path("data") + "/"}));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name.size(), 1023u);
  EXPECT_EQ(entries[1].contents, "deep");
}

TEST_F(PackProgram, WritesOneChecksummedFrameWithoutSizeOrDictionaryAndThe128MiBWindow) {
  write_file(folder / "data/file.bin", patterned(300000, 2));
  std::vector<std::string> outputs;
  for (const char* threads : {"1", "2", "3"}) {
    SCOPED_TRACE(std::string("threads ") + threads);
    const std::string attached = pack_ok({"--threads", threads, "-o", output(), path("app.dll"), path("data")});
    ASSERT_GT(attached.size(), 3u + 6u + 13u);
    EXPECT_EQ(attached.substr(0, 3), "KAY");
    EXPECT_EQ(attached.substr(3, 4), "\x28\xB5\x2F\xFD");  // Zstandard magic number, little-endian
    // Frame header descriptor: no content size, not single segment, content checksum, no dictionary id.
    EXPECT_EQ(static_cast<unsigned char>(attached[7]), 0x04);
    EXPECT_EQ(static_cast<unsigned char>(attached[8]), 0x88);  // window 2^27
    const std::size_t stream_size = attached.size() - 3 - 13;
    EXPECT_EQ(ZSTD_findFrameCompressedSize(attached.data() + 3, stream_size), stream_size) << "not exactly one frame";

    const std::string_view trailer = std::string_view(attached).substr(attached.size() - 13);
    EXPECT_EQ(trailer.substr(0, 5), std::string_view("\0\0\0\0\0", 5));
    EXPECT_EQ(little_endian_value(trailer.substr(5)), attached.size() - 8);
    EXPECT_EQ(decode_attached_data(attached).size(), 2u);
    outputs.push_back(attached);
  }
  EXPECT_TRUE(outputs[0] == outputs[1] && outputs[1] == outputs[2]) << "the thread count changed the bytes";
}

TEST_F(PackProgram, GivesIdenticalBytesWhateverTheOrderOfInputs) {
  write_file(folder / "data/one.txt", "1");
  write_file(folder / "data/sub/two.txt", patterned(70000, 3));
  write_file(folder / "other/three.txt", "3");
  const std::string first =
      pack_ok({"--level", "5", "-o", output(), path("app.dll"), path("data"), path("other/three.txt")});
  const std::string second =
      pack_ok({"--level", "5", "-o", output(), path("app.dll"), path("other/three.txt"), path("data")});
  EXPECT_TRUE(first == second);
  EXPECT_EQ(decode_attached_data(first).size(), 4u);
}

TEST_F(PackProgram, PacksTheMainLibraryAloneAndReplacesAnOldOutput) {
  write_file(output(), "stale contents");
  const std::vector<DecodedEntry> entries = decode_attached_data(pack_ok({"--output", output(), path("app.dll")}));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, u"app.dll");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder / "out"), fs::directory_iterator()), 1);
}

TEST_F(PackProgram, TakesTheMainLibraryWhateverTheLetterCaseOfItsDllEnding) {
  for (const char* name : {"APP.DLL", "App.Dll", "lib.dLl"}) {
    SCOPED_TRACE(name);
    write_file(folder / name, build_pe_image());
    const std::vector<DecodedEntry> entries = decode_attached_data(pack_ok({"-o", output(), path(name)}));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, utf16(name));
  }
}

TEST_F(PackProgram, PrintsUsageForHelp) {
  const PackRun run = run_pack({"--help"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.output.find("Usage: osvari-pack"), std::string::npos);
  EXPECT_NE(run.output.find("--output FILE"), std::string::npos);
  EXPECT_EQ(run.errors, "");
}

TEST_F(PackProgram, EndsWithOneSummaryLineUnlessQuiet) {
  write_file(folder / "data/one.txt", std::string(4096, 'a'));
  write_file(folder / "data/two.txt", "");
  const PackRun run = run_pack({"--attached-data-only", "--level", "3", "-o", output(), path("app.dll"), path("data")});
  EXPECT_EQ(run.exit_code, 0) << run.errors;
  EXPECT_EQ(run.output, "");
  // Not a terminal: no progress, only "N entries, IN in, OUT compressed (RATIO%), TIME s".
  const std::string input = pack::human_size(build_pe_image().size() + 4096);
  const std::string written = pack::human_size(fs::file_size(output()));
  const std::string prefix = "osvari-pack: 3 entries, " + input + " in, " + written + " compressed (";
  EXPECT_TRUE(run.errors.starts_with(prefix)) << run.errors << "expected: " << prefix;
  EXPECT_TRUE(run.errors.ends_with(" s\n")) << run.errors;
  EXPECT_EQ(run.errors.find('\r'), std::string::npos);
  EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;

  const PackRun quiet = run_pack({"-q", "--attached-data-only", "-o", output(), path("app.dll"), path("data")});
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(quiet.errors + quiet.output, "");
}

struct BadInput {
  const char* description;
  std::function<void(const fs::path& folder)> prepare;
  std::vector<std::string> arguments;  // "@" starts a path inside the test folder; "-o" "@out/app.bin" is added
  int exit_code;
  std::string message;
};

TEST_F(PackProgram, RefusesBadInputWithOneLineAndLeavesNoOutput) {
  const auto nothing = [](const fs::path&) {};
  const BadInput cases[] = {
      {"missing input", nothing, {"@app.dll", "@nowhere.txt"}, 1, "no such file or directory: "},
      {"missing main library", nothing, {"@missing.dll"}, 1, "no such file: "},
      {"main library is a directory", [](const fs::path& f) { fs::create_directories(f / "lib.dll"); },
       {"@lib.dll"}, 1, "the main library is not a regular file: "},
      {"main library not named .dll", [](const fs::path& f) { write_file(f / "app.so", build_pe_image()); },
       {"@app.so"}, 1, "the main library's name does not end in \".dll\": "},
      {"main library is text", [](const fs::path& f) { write_file(f / "text.dll", "hello"); },
       {"@text.dll"}, 1, "is neither a Windows program nor a DLL (no MZ header): give an x86-64 .exe, or a DLL"},
      {"an executable for no known subsystem",
       [](const fs::path& f) { write_file(f / "exe.dll", build_pe_image({.characteristics = 0x0022})); },
       {"@exe.dll"}, 1, "is not a GUI or console program"},
      {"a 32-bit program", [](const fs::path& f) { write_file(f / "x86.exe", program_image(0x14C)); }, {"@x86.exe"},
       1, "is a 32-bit (x86) program; onefile executables run x86-64 programs only: build it for x86-64"},
      {"an ARM64 program", [](const fs::path& f) { write_file(f / "arm.exe", program_image(0xAA64)); }, {"@arm.exe"},
       1, "is an ARM64 program; onefile executables run x86-64 programs only"},
      {"a .NET assembly without native code",
       [](const fs::path& f) { write_file(f / "managed.exe", managed_image()); }, {"@managed.exe"}, 1,
       "is a .NET assembly with no native entry: publish it for win-x64 with an apphost"},
      {"main library is 32-bit",
       [](const fs::path& f) { write_file(f / "x86.dll", build_pe_image({.machine = 0x14C})); },
       {"@x86.dll"}, 1, "is not built for x86-64"},
      {"main library without run_code",
       [](const fs::path& f) { write_file(f / "other.dll", build_pe_image({.export_names = {"main"}})); },
       {"@other.dll"}, 1, "does not export run_code: export extern \"C\" int run_code(int, wchar_t**) from it, or pack "
       "the program (.exe) instead"},
      {"main library cut short",
       [](const fs::path& f) { write_file(f / "cut.dll", build_pe_image().substr(0, 0x210)); },
       {"@cut.dll"}, 1, "is damaged"},
      {"file name not UTF-8", [](const fs::path& f) { write_file(f / "data/bad\xFF.txt", "x"); },
       {"@app.dll", "@data"}, 1, "file name is not valid UTF-8: "},
      {"file name with a backslash", [](const fs::path& f) { write_file(f / "data/a\\b.txt", "x"); },
       {"@app.dll", "@data"}, 1, "file name contains a backslash: "},
      {"file name with a colon", [](const fs::path& f) { write_file(f / "c:d.txt", "x"); },
       {"@app.dll", "@c:d.txt"}, 1, "file name contains a colon: "},
      {"name longer than 1023 units",
       [](const fs::path& f) {
         const std::string part(255, 'y');
         write_file(f / "data" / part / part / part / part / "z", "x");
       },
       {"@app.dll", "@data"}, 1, "entry name is longer than 1023 UTF-16 code units: "},
      {"two files with one name",
       [](const fs::path& f) {
         write_file(f / "x/readme.md", "1");
         write_file(f / "y/readme.md", "2");
       },
       {"@app.dll", "@x/readme.md", "@y/readme.md"}, 1, "two inputs give the entry name \"readme.md\": "},
      {"a data file named like the main library",
       [](const fs::path& f) { write_file(f / "data/app.dll", "other"); }, {"@app.dll", "@data"}, 1,
       "two inputs give the entry name \"app.dll\": "},
      {"a data file named like the main library in other letter case",
       [](const fs::path& f) { write_file(f / "data/App.DLL", "other"); }, {"@app.dll", "@data"}, 1,
       "entry names differ only in letter case, \"app.dll\" and \"App.DLL\": "},
      {"two files whose names differ only in letter case",
       [](const fs::path& f) {
         write_file(f / "data/sub/Readme.md", "1");
         write_file(f / "data/SUB/readme.md", "2");
       },
       {"@app.dll", "@data"}, 1, "entry names differ only in letter case, \"SUB\\readme.md\" and \"sub\\Readme.md\": "},
      {"a file named like a folder of another in other letter case",
       [](const fs::path& f) {
         write_file(f / "data/Notes", "a file");
         write_file(f / "data/notes/today.txt", "in a folder");
       },
       {"@app.dll", "@data"}, 1, "entry name \"Notes\" is also a folder of \"notes\\today.txt\": "},
      {"a device name", [](const fs::path& f) { write_file(f / "data/sub/NUL", "x"); }, {"@app.dll", "@data"}, 1,
       "file name is a Windows device name: "},
      {"a device name with an extension", [](const fs::path& f) { write_file(f / "com1.log", "x"); },
       {"@app.dll", "@com1.log"}, 1, "file name is a Windows device name: "},
      {"a name ending in a dot", [](const fs::path& f) { write_file(f / "data/trail.", "x"); }, {"@app.dll", "@data"},
       1, "file name ends in a dot or a space: "},
      {"a folder name ending in a space", [](const fs::path& f) { write_file(f / "data/dir /x.txt", "x"); },
       {"@app.dll", "@data"}, 1, "file name ends in a dot or a space: "},
      {"a reserved character", [](const fs::path& f) { write_file(f / "data/what?.txt", "x"); }, {"@app.dll", "@data"},
       1, "file name contains one of < > \" | ? *: "},
      {"a control character", [](const fs::path& f) { write_file(f / "data/bell\x07.txt", "x"); },
       {"@app.dll", "@data"}, 1, "file name contains a control character: "},
      {"device instead of a file", nothing, {"@app.dll", "/dev/null"}, 1, "not a regular file or directory: /dev/null"},
      {"output directory missing", nothing, {"-o", "@no/such/dir/out.bin", "@app.dll"}, 1, "cannot create "},
      {"no output option", nothing, {"@app.dll"}, 2, "no output file given: use --output FILE"},
      {"unknown option", nothing, {"--fast", "@app.dll"}, 2, "unknown option --fast"},
      {"bad level", nothing, {"--level", "x", "@app.dll"}, 2, "--level needs a whole number"},
      {"a DLL as the launcher", nothing, {"--launcher", "@app.dll", "@app.dll"}, 1,
       "has a damaged header"},
  };
  for (const BadInput& test : cases) {
    SCOPED_TRACE(test.description);
    TemporaryFolder case_folder;
    write_file(case_folder / "app.dll", build_pe_image());
    fs::create_directories(case_folder / "out");
    test.prepare(case_folder.path());
    std::vector<std::string> arguments = test.arguments;
    if (test.message != "no output file given: use --output FILE" && test.message != "cannot create ") {
      arguments.insert(arguments.begin(), {"-o", "@out/app.bin"});
    }
    if (std::find(arguments.begin(), arguments.end(), "--launcher") == arguments.end()) {
      arguments.insert(arguments.begin(), "--attached-data-only");
    }
    for (std::string& argument : arguments) {
      if (argument.starts_with("@")) argument = (case_folder / argument.substr(1)).string();
    }

    const PackRun run = run_pack(arguments);
    EXPECT_EQ(run.exit_code, test.exit_code) << run.errors;
    EXPECT_TRUE(run.errors.starts_with("osvari-pack: ")) << run.errors;
    EXPECT_NE(run.errors.find(test.message), std::string::npos) << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(fs::is_empty(case_folder / "out")) << "output left behind";
  }
}

TEST_F(PackProgram, RefusesToOverwriteAnInput) {
  write_file(folder / "data/keep.txt", "precious");
  const PackRun run = run_pack({"--attached-data-only", "-o", path("data/keep.txt"), path("app.dll"), path("data")});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.errors, "osvari-pack: the output file is also an input: " + path("data/keep.txt") + "\n");
  EXPECT_EQ(read_file(folder / "data/keep.txt"), "precious");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder / "data"), fs::directory_iterator()), 1);
}

TEST_F(PackProgram, RefusesUnreadableFilesAndDirectories) {
  write_file(folder / "data/secret.txt", "x");
  write_file(folder / "closed/inside.txt", "y");
  fs::permissions(folder / "data/secret.txt", fs::perms::none);
  fs::permissions(folder / "closed", fs::perms::none);
  const struct {
    std::string input;
    std::string unreadable;
  } cases[] = {{path("data"), path("data/secret.txt")}, {path("closed"), path("closed")}};
  for (const auto& test : cases) {
    const PackRun run =
        run_pack({"--attached-data-only", "-o", output(), path("app.dll"), test.input}, /*obey_permissions=*/true);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.errors, "osvari-pack: cannot read " + test.unreadable + ": Permission denied\n");
    EXPECT_TRUE(fs::is_empty(folder / "out"));
  }
}

}  // namespace
}  // namespace osvari::testing
