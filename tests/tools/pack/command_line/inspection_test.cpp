// osvari-pack --list, --verify and --extract, run as a program on attached-data files and exes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zstd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "tests/tools/pack/support/executable_image_builder.h"
#include "tests/tools/pack/support/pack_test_support.h"
#include "tests/tools/pack/support/pe_image_builder.h"
#include "tools/pack/attached_data/attached_data_format.h"
#include "tools/pack/attached_data/cache_index_writer.h"
#include "tools/pack/inputs/entry_names.h"

namespace osvari::testing {
namespace {

namespace fs = std::filesystem;
using Entries = std::vector<std::pair<std::u16string, std::string>>;

// The decoded stream of `entries`, ended by the terminator unless told otherwise.
std::string decoded_stream(const Entries& entries, bool terminator = true) {
  std::string stream;
  for (const auto& [name, contents] : entries) {
    pack::append_entry_prefix(stream, name, contents.size());
    stream += contents;
  }
  if (terminator) pack::append_terminator(stream);
  return stream;
}

std::string attached(std::string_view decoded, bool checksum = false) {
  return pack::wrap_attached_data(pack::compress_frame(decoded, {.level = 3, .workers = 0, .checksum = checksum}));
}

// A frame whose window is twice what the launcher's decoder accepts.
std::string frame_with_window_log(std::string_view decoded, int window_log) {
  std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, window_log);
  std::string frame(ZSTD_compressBound(decoded.size()) + 64, '\0');
  ZSTD_outBuffer out{frame.data(), frame.size(), 0};
  ZSTD_inBuffer in{decoded.data(), decoded.size(), 0};
  ZSTD_compressStream2(context.get(), &out, &in, ZSTD_e_continue);
  while (ZSTD_compressStream2(context.get(), &out, &in, ZSTD_e_end) != 0) {
  }
  frame.resize(out.pos);
  return frame;
}

const std::string main_library = build_pe_image();
const Entries sample = {
    {u"app.dll", main_library},
    {u"config.ini", "[run]\nfast=1\n"},
    {u"empty.txt", ""},
    {u"nested\\deeper\\notes.txt", std::string(70000, 'n')},
    {u"\u00E9t\u00E9-\u03A9.txt", "unicode"},
};

class Inspection : public ::testing::Test {
 protected:
  // Writes `bytes` into the test folder and runs osvari-pack with `option` (and DIR for --extract).
  PackRun inspect(const std::vector<std::string>& options, const std::string& bytes, const char* file = "app.bin") {
    write_file(folder / file, bytes);
    std::vector<std::string> arguments = options;
    arguments.push_back((folder / file).string());
    return run_pack(arguments, false, folder / "cwd");
  }

  void SetUp() override {
    // Extraction runs from a sacrificial current directory, with canaries beside the target.
    write_file(folder / "cwd/canary.txt", "cwd canary");
    write_file(folder / "outside/canary.txt", "outside canary");
  }

  void expect_canaries_intact() {
    EXPECT_EQ(read_file(folder / "cwd/canary.txt"), "cwd canary");
    EXPECT_EQ(read_file(folder / "outside/canary.txt"), "outside canary");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "cwd"), fs::directory_iterator()), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "outside"), fs::directory_iterator()), 1);
  }

  std::string extracted() const { return (folder / "extracted").string(); }

  TemporaryFolder folder;
};

TEST_F(Inspection, ListsEntriesWithSizesMainLibraryFirstThenATotal) {
  const PackRun run = inspect({"--list"}, attached(decoded_stream(sample)));
  EXPECT_EQ(run.exit_code, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  const std::string size = std::to_string(main_library.size());
  const std::string total = std::to_string(main_library.size() + 13 + 70000 + 7);
  EXPECT_EQ(run.output, std::string(14 - size.size(), ' ') + size + "  app.dll\n" +
                            "            13  config.ini\n"
                            "             0  empty.txt\n"
                            "         70000  nested\\deeper\\notes.txt\n"
                            "             7  \xC3\xA9t\xC3\xA9-\xCE\xA9.txt\n" +
                            std::string(14 - total.size(), ' ') + total + "  total in 5 entries\n");
}

// A launcher-shaped executable whose resources are `rcdata` (RCDATA resources by id) and a manifest.
std::string executable_with(const std::vector<std::pair<std::uint32_t, std::string>>& rcdata) {
  pack::ResourceTable table;
  table.add({pack::resource_id(pack::resource_type_manifest), pack::resource_id(1),
             pack::resource_id(pack::language_english_us), "<assembly/>", 0});
  for (const auto& [id, data] : rcdata) {
    table.add({pack::resource_id(pack::resource_type_rcdata), pack::resource_id(id),
               pack::resource_id(pack::language_neutral), data, 0});
  }
  return build_executable_image({.resources = resources_of(table), .relocations_after_resources = true});
}

TEST_F(Inspection, ReadsTheAttachedDataOfAnExecutableFromItsResource) {
  const std::string data = attached(decoded_stream(sample), true);
  const PackRun list = inspect({"--list"}, executable_with({{26, "other"}, {27, data}}), "app.exe");
  EXPECT_EQ(list.exit_code, 0) << list.errors;
  EXPECT_NE(list.output.find("  app.dll\n"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("total in 5 entries"), std::string::npos) << list.output;

  const PackRun verify = run_pack({"--verify", (folder / "app.exe").string()});
  EXPECT_EQ(verify.exit_code, 0) << verify.errors;
  EXPECT_EQ(verify.output, "OK: " + (folder / "app.exe").string() + ": 5 entries, " +
                               std::to_string(main_library.size() + 70020) + " bytes, checksum verified\n");

  // Another resource id, or none at all, is an executable without attached data.
  for (const std::string& other : {executable_with({{26, data}}), executable_with({})}) {
    const PackRun run = inspect({"--verify"}, other, "other.exe");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.errors, "osvari-pack: " + (folder / "other.exe").string() +
                              ": an executable without attached data (no RCDATA resource 27)\n");
  }
  const PackRun cut = inspect({"--list"}, executable_with({{27, data}}).substr(0, 0x900), "cut.exe");
  EXPECT_EQ(cut.exit_code, 1);
  EXPECT_TRUE(cut.errors.starts_with("osvari-pack: " + (folder / "cut.exe").string() + " is cut short")) << cut.errors;
}

TEST_F(Inspection, ReadsBackWhatPackingWithALauncherWrote) {
  write_file(folder / "launcher.exe", executable_with({{5, "keep me"}}));
  write_file(folder / "app.dll", main_library);
  write_file(folder / "data/nested/notes.txt", "notes");
  const PackRun packed =
      run_pack({"--quiet", "--level", "3", "--launcher", (folder / "launcher.exe").string(), "-o",
                (folder / "app.exe").string(), (folder / "app.dll").string(), (folder / "data").string()});
  ASSERT_EQ(packed.exit_code, 0) << packed.errors;
  const PackRun list = run_pack({"--list", (folder / "app.exe").string()});
  EXPECT_EQ(list.exit_code, 0) << list.errors;
  const std::string size = std::to_string(main_library.size());
  const std::string total = std::to_string(main_library.size() + 5);
  EXPECT_EQ(list.output, std::string(14 - size.size(), ' ') + size + "  app.dll\n" +
                             "             5  nested\\notes.txt\n" + std::string(14 - total.size(), ' ') + total +
                             "  total in 2 entries\n");
  EXPECT_EQ(run_pack({"--verify", (folder / "app.exe").string()}).exit_code, 0);
  EXPECT_EQ(run_pack({"--extract", extracted(), (folder / "app.exe").string()}).exit_code, 0);
  EXPECT_EQ(read_file(folder / "extracted/nested/notes.txt"), "notes");
  EXPECT_TRUE(read_file(folder / "extracted/app.dll") == main_library);
}

TEST_F(Inspection, ReadsAHostileResourceTreeInMemoryBoundedByTheFileSize) {
  // 4,000 leaves all pointing at one 4 MiB blob: copied per leaf that would be 16 GB; the tool
  // runs under a 1 GiB address-space limit, so it must refuse without trying.
  constexpr std::uint64_t limit = 1ULL << 30;
  const std::string hostile = build_executable_image(
      {.resources = [](std::uint32_t rva) { return resources_sharing_one_blob(rva, 4000, 4 << 20); }});
  for (const char* option : {"--list", "--verify"}) {
    write_file(folder / "hostile.exe", hostile);
    const PackRun run = run_pack({option, (folder / "hostile.exe").string()}, false, folder / "cwd", {}, limit);
    EXPECT_EQ(run.exit_code, 1) << option;
    EXPECT_NE(run.errors.find("lists more data than the file holds"), std::string::npos) << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
  }
  // 430 KiB of directories whose 50,000 entries share one name of 20,000 code units and lead to
  // no data: copied on every visit, that name would make 2 GB of copies. It is refused at once.
  write_file(folder / "names.exe", build_executable_image({.resources = [](std::uint32_t) {
                                     return resources_sharing_one_name(50'000, 20'000);
                                   }}));
  const PackRun names = run_pack({"--list", (folder / "names.exe").string()}, false, folder / "cwd", {}, limit);
  EXPECT_EQ(names.exit_code, 1);
  EXPECT_NE(names.errors.find("lists more data than the file holds"), std::string::npos) << names.errors;
  // The same tree with one leaf is read, under the same limit: its resource 27 holds the blob.
  write_file(folder / "one.exe", build_executable_image({.resources = [](std::uint32_t rva) {
                                   return resources_sharing_one_blob(rva, 1, 4 << 20);
                                 }}));
  const PackRun one = run_pack({"--list", (folder / "one.exe").string()}, false, folder / "cwd", {}, limit);
  EXPECT_EQ(one.exit_code, 1);
  EXPECT_NE(one.errors.find("no attached data header"), std::string::npos) << one.errors;
}

TEST_F(Inspection, VerifiesGoodDataWithAndWithoutChecksumAndAcrossTwoFrames) {
  const std::string decoded = decoded_stream(sample);
  // An entry split between two frames still reads as one stream.
  const std::size_t split = decoded.size() / 2;
  const pack::CompressionOptions plain{.level = 3, .workers = 0, .checksum = false};
  const std::string two_frames = pack::wrap_attached_data(pack::compress_frame(decoded.substr(0, split), plain) +
                                                          pack::compress_frame(decoded.substr(split), plain));
  const struct {
    const char* description;
    std::string bytes;
    const char* checksum;
  } cases[] = {
      {"no checksum", attached(decoded), "no checksum to verify"},
      {"checksum", attached(decoded, true), "checksum verified"},
      {"two frames", two_frames, "no checksum to verify"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    const PackRun run = inspect({"--verify"}, test.bytes);
    EXPECT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.output, "OK: " + (folder / "app.bin").string() + ": 5 entries, " +
                              std::to_string(main_library.size() + 70020) + " bytes, " + test.checksum + "\n");
  }
}

// Packed for the extraction cache: the index before the frame is checked against the frame
// (its id is the frame's hash, its names and sizes the entries'), and skipped otherwise.
TEST_F(Inspection, ChecksTheCacheIndexAndReadsTheEntriesAfterIt) {
  const std::string frame = pack::compress_frame(decoded_stream(sample), {.level = 3, .workers = 0, .checksum = true});
  std::vector<pack::IndexedEntry> entries;
  for (const auto& [name, contents] : sample) entries.push_back({name, contents.size()});
  const std::string id = pack::attached_data_id(frame);
  const auto cached = [&](std::string_view index_id, const std::vector<pack::IndexedEntry>& index) {
    return pack::wrap_attached_data(pack::cache_index_frame(index_id, index) + frame);
  };

  const PackRun list = inspect({"--list"}, cached(id, entries));
  EXPECT_EQ(list.exit_code, 0) << list.errors;
  EXPECT_TRUE(list.output.ends_with("total in 5 entries\nruns from the extraction cache, id " + id + "\n"))
      << list.output;
  const PackRun verify = inspect({"--verify"}, cached(id, entries));
  EXPECT_EQ(verify.exit_code, 0) << verify.errors;
  EXPECT_TRUE(verify.output.ends_with("checksum verified, cache index matches\n")) << verify.output;
  EXPECT_EQ(inspect({"--extract", extracted()}, cached(id, entries)).exit_code, 0);
  EXPECT_EQ(read_file(folder / "extracted/config.ini"), "[run]\nfast=1\n");

  std::vector<pack::IndexedEntry> other_size = entries;
  other_size[2].size = 1;
  std::vector<pack::IndexedEntry> one_short = entries;
  one_short.pop_back();
  std::vector<pack::IndexedEntry> renamed = entries;
  renamed[1].name = u"Config.ini";
  const struct {
    const char* description;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"other id", cached("0000000000000000", entries), "the cache index names other data than follows it"},
      {"other size", cached(id, other_size), "the cache index does not list entry 3 as it is"},
      {"other name", cached(id, renamed), "the cache index does not list entry 2 as it is"},
      {"entry missing", cached(id, one_short), "the cache index does not list entry 5 as it is"},
      {"damaged", cached("not hex at all!!", entries), "the cache index after the header is damaged"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    const PackRun run = inspect({"--verify"}, test.bytes);
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.errors.find(test.message), std::string::npos) << run.errors;
  }
}

TEST_F(Inspection, RefusesDamagedDataWithOneLineNamingTheProblem) {
  const std::string decoded = decoded_stream(sample);
  const std::string good = attached(decoded, true);
  const std::string frame = pack::compress_frame(decoded, {.level = 3, .workers = 0, .checksum = true});
  std::string corrupted = good;
  corrupted[3 + frame.size() / 2] ^= 0x20;
  std::string wrong_count = good;
  wrong_count[good.size() - 1] = 1;
  const std::string unterminated = decoded_stream(sample, false);
  const struct {
    const char* description;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"empty file", "", "neither an executable nor attached data (no MZ or KAY header)"},
      {"wrong header", "KAZ" + good.substr(3), "neither an executable nor attached data"},
      {"header only", "KAY", "the data ends before the first entry"},
      {"one byte short", good.substr(0, good.size() - 1),
       "12 bytes follow the compressed stream instead of the 13-byte trailer"},
      {"no trailer", "KAY" + frame, "0 bytes follow the compressed stream instead of the 13-byte trailer"},
      {"bytes after the trailer", good + "x", "14 bytes follow the compressed stream"},
      {"trailer with a wrong count", wrong_count, "the trailer does not hold five zero bytes and the count"},
      {"cut inside the frame", good.substr(0, 3 + frame.size() / 2), "the compressed stream is cut short"},
      {"one corrupted byte", corrupted, "cannot decode the compressed stream"},
      {"window above 128 MiB", pack::wrap_attached_data(frame_with_window_log(decoded, 28)),
       "cannot decode the compressed stream before the first entry: Frame requires too much memory"},
      {"no terminator", attached(unterminated), "the data ends before the terminator"},
      {"entry larger than the stream", attached(unterminated.substr(0, unterminated.size() - 5)),
       "the data ends inside entry 5 \"\xC3\xA9t\xC3\xA9-\xCE\xA9.txt\""},
      {"bytes after the terminator", attached(decoded + "extra"), "decoded bytes follow the terminator"},
      {"no entries", attached(decoded_stream({})), "no entries: the main library is missing"},
      {"name longer than 1023 units", attached(decoded_stream({{std::u16string(1024, u'x'), "x"}})),
       "the name of entry 1 is longer than 1023 UTF-16 code units"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    for (const char* option : {"--verify", "--list"}) {
      const PackRun run = inspect({option}, test.bytes);
      EXPECT_EQ(run.exit_code, 1) << option;
      EXPECT_TRUE(run.errors.starts_with("osvari-pack: " + (folder / "app.bin").string() + ": ")) << run.errors;
      EXPECT_NE(run.errors.find(test.message), std::string::npos) << option << ": " << run.errors;
      EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    }
    EXPECT_EQ(inspect({"--extract", extracted()}, test.bytes).exit_code, 1);
    EXPECT_FALSE(fs::exists(extracted())) << "extraction began on bad data";
  }
}

TEST_F(Inspection, NamesTheSystemsReasonForAFileItCannotRead) {
  fs::create_directories(folder / "a folder");
  const struct {
    std::string file;
    std::string reason;
  } cases[] = {
      {(folder / "missing.exe").string(), "No such file or directory"},
      {(folder / "a folder").string(), "Is a directory"},
  };
  for (const auto& test : cases) {
    for (const char* option : {"--list", "--verify"}) {
      const PackRun run = run_pack({option, test.file});
      EXPECT_EQ(run.exit_code, 1);
      EXPECT_EQ(run.errors, "osvari-pack: cannot read " + test.file + ": " + test.reason + "\n") << option;
    }
    const PackRun extract = run_pack({"--extract", extracted(), test.file});
    EXPECT_EQ(extract.errors, "osvari-pack: cannot read " + test.file + ": " + test.reason + "\n");
    EXPECT_FALSE(fs::exists(extracted()));
  }
}

TEST_F(Inspection, RefusesNamesTheLauncherWouldNotUnpackAndExtractsNothing) {
  const struct {
    const char* description;
    std::u16string name;
    std::string message;
  } cases[] = {
      {"parent component", u"..\\evil.txt", "has a component that is \"..\""},
      {"parent further down", u"a\\..\\..\\evil.txt", "has a component that is \"..\""},
      {"parent through a slash", u"a/../../evil.txt", "has a component that contains a slash"},
      {"leading backslash", u"\\evil.txt", "has a component that is empty"},
      {"leading slash", u"/evil.txt", "has a component that contains a slash"},
      {"drive", u"C:evil.txt", "has a component that contains a colon"},
      {"stream", u"file.txt:stream", "has a component that contains a colon"},
      {"empty component", u"a\\\\b.txt", "has a component that is empty"},
      {"dot component", u".\\b.txt", "has a component that is \".\""},
      {"device name", u"sub\\NUL.txt", "has a component that is a Windows device name"},
      {"trailing dot", u"sub.\\b.txt", "has a component that ends in a dot or a space"},
      {"reserved character", u"what?.txt", "has a component that contains one of < > \" | ? *"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    const std::string bytes = attached(decoded_stream({{u"app.dll", main_library}, {test.name, "escaped"}}));
    for (const char* option : {"--verify", "--extract"}) {
      std::vector<std::string> options = {option};
      if (option == std::string("--extract")) options.push_back(extracted());
      const PackRun run = inspect(options, bytes);
      EXPECT_EQ(run.exit_code, 1) << option;
      EXPECT_NE(run.errors.find(": entry 2 \""), std::string::npos) << run.errors;
      EXPECT_NE(run.errors.find("\": the name " + test.message), std::string::npos) << option << ": " << run.errors;
      EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    }
    EXPECT_FALSE(fs::exists(extracted()));
    expect_canaries_intact();
    EXPECT_FALSE(fs::exists(folder / "evil.txt"));
  }

  const PackRun not_a_dll = inspect({"--verify"}, attached(decoded_stream({{u"app.exe", main_library}})));
  EXPECT_EQ(not_a_dll.exit_code, 1);
  EXPECT_NE(not_a_dll.errors.find("entry 1 \"app.exe\": the main library's name does not end in \".dll\""),
            std::string::npos)
      << not_a_dll.errors;
}

TEST_F(Inspection, RefusesNamesWindowsTakesForOneFileAndExtractsNothing) {
  const struct {
    const char* description;
    Entries entries;
    std::string message;
  } cases[] = {
      {"the same name twice",
       {{u"app.dll", main_library}, {u"a.txt", "1"}, {u"a.txt", "2"}},
       "entry 3 \"a.txt\": the name is already entry 2 \"a.txt\""},
      {"names that differ in letter case",
       {{u"app.dll", main_library}, {u"Notes.TXT", "1"}, {u"notes.txt", "2"}},
       "entry 3 \"notes.txt\": the name differs only in letter case from entry 2 \"Notes.TXT\""},
      {"letter case beyond ASCII",
       {{u"app.dll", main_library}, {u"\u00E9t\u00E9\\\u0436.txt", "1"}, {u"\u00C9T\u00C9\\\u0416.TXT", "2"}},
       "the name differs only in letter case from entry 2"},
      {"the main library again in capitals",
       {{u"app.dll", main_library}, {u"APP.DLL", main_library}},
       "entry 2 \"APP.DLL\": the name differs only in letter case from entry 1 \"app.dll\""},
      {"a file, then a folder of that name",
       {{u"app.dll", main_library}, {u"data", "file"}, {u"Data\\inner.txt", "below"}},
       "entry 3 \"Data\\inner.txt\": a folder on its path is the file entry 2 \"data\""},
      {"a folder, then a file of that name",
       {{u"app.dll", main_library}, {u"x\\y\\z.txt", "deep"}, {u"X\\Y", "file"}},
       "entry 3 \"X\\Y\": the name is a folder on the path of entry 2 \"x\\y\\z.txt\""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.description);
    const std::string bytes = attached(decoded_stream(test.entries));
    for (const char* option : {"--verify", "--extract"}) {
      std::vector<std::string> options = {option};
      if (option == std::string("--extract")) options.push_back(extracted());
      const PackRun run = inspect(options, bytes);
      EXPECT_EQ(run.exit_code, 1) << option;
      EXPECT_NE(run.errors.find(test.message), std::string::npos) << option << ": " << run.errors;
      EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    }
    EXPECT_FALSE(fs::exists(extracted())) << "extraction began";
    expect_canaries_intact();
  }
  // Listing shows what is there, collisions included.
  const PackRun listed = inspect({"--list"}, attached(decoded_stream(cases[0].entries)));
  EXPECT_EQ(listed.exit_code, 0) << listed.errors;
}

TEST_F(Inspection, ExtractsEveryEntryByteForByteAndReplacesOlderFiles) {
  write_file(folder / "extracted/config.ini", "old contents");
  const PackRun run = inspect({"--extract", extracted()}, attached(decoded_stream(sample), true));
  EXPECT_EQ(run.exit_code, 0) << run.errors;
  std::uint64_t bytes = 0;
  for (const auto& entry : sample) bytes += entry.second.size();
  EXPECT_EQ(run.output, "extracted " + std::to_string(sample.size()) + " entries, " + std::to_string(bytes) +
                            " bytes, into " + extracted() + "\n");
  EXPECT_EQ(run.errors, "");
  for (const auto& [name, contents] : sample) {
    std::string relative = pack::utf16_to_utf8(name);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    EXPECT_TRUE(fs::is_regular_file(folder / "extracted" / relative)) << relative;
    EXPECT_TRUE(read_file(folder / "extracted" / relative) == contents) << relative;
  }
  std::size_t files = 0;
  for (const auto& item : fs::recursive_directory_iterator(folder / "extracted")) files += item.is_regular_file();
  EXPECT_EQ(files, sample.size()) << "a temporary file was left behind";
  expect_canaries_intact();
}

TEST_F(Inspection, ExtractionNeverWritesThroughALinkAtAnyNameItWrites) {
  // Every name --extract writes: each file, each folder on the way, and the temporary names it
  // writes a file under until it is complete (.osvari-extract-N.partial, N from 0).
  enum class Outcome { extracted_link_replaced, extracted_link_kept, refused };
  const struct {
    const char* planted;  // relative to the extraction folder
    bool to_folder;
    Outcome outcome;
  } cases[] = {
      {"app.dll", false, Outcome::extracted_link_replaced},
      {"config.ini", false, Outcome::extracted_link_replaced},
      {"nested/deeper/notes.txt", false, Outcome::extracted_link_replaced},
      {"nested", true, Outcome::refused},
      {"nested/deeper", true, Outcome::refused},
      {".osvari-extract-0.partial", false, Outcome::extracted_link_kept},
      {".osvari-extract-1.partial", false, Outcome::extracted_link_kept},
      {"nested/deeper/.osvari-extract-3.partial", false, Outcome::extracted_link_kept},
      {".osvari-extract-0.partial", true, Outcome::extracted_link_kept},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.planted);
    fs::remove_all(extracted());
    const fs::path link = folder / "extracted" / test.planted;
    fs::create_directories(link.parent_path());
    if (test.to_folder) {
      fs::create_directory_symlink(folder / "outside", link);
    } else {
      fs::create_symlink(folder / "outside/canary.txt", link);
    }
    const PackRun run = inspect({"--extract", extracted()}, attached(decoded_stream(sample)));
    switch (test.outcome) {
      case Outcome::extracted_link_replaced:
        EXPECT_EQ(run.exit_code, 0) << run.errors;
        EXPECT_FALSE(fs::is_symlink(link));
        break;
      case Outcome::extracted_link_kept:
        EXPECT_EQ(run.exit_code, 0) << run.errors;
        EXPECT_TRUE(fs::is_symlink(link));
        break;
      case Outcome::refused:
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_NE(run.errors.find("it is a link, which could lead outside the folder"), std::string::npos)
            << run.errors;
        EXPECT_TRUE(fs::is_symlink(link));
        break;
    }
    if (test.outcome != Outcome::refused) {
      for (const auto& [name, contents] : sample) {
        std::string relative = pack::utf16_to_utf8(name);
        std::replace(relative.begin(), relative.end(), '\\', '/');
        EXPECT_TRUE(read_file(folder / "extracted" / relative) == contents) << relative;
      }
    }
    expect_canaries_intact();
  }
}

TEST_F(Inspection, ExtractionNeverFollowsALinkPlantedInTheFolder) {
  fs::create_directories(folder / "extracted");
  fs::create_directory_symlink(folder / "outside", folder / "extracted/nested");
  fs::create_symlink(folder / "outside/canary.txt", folder / "extracted/config.ini");

  const PackRun run = inspect({"--extract", extracted()}, attached(decoded_stream(sample)));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.errors, "osvari-pack: refusing to write through " + extracted() +
                            "/nested: it is a link, which could lead outside the folder\n");
  // The file link was replaced by a file, not written through; the folder link was not entered.
  EXPECT_FALSE(fs::is_symlink(folder / "extracted/config.ini"));
  EXPECT_EQ(read_file(folder / "extracted/config.ini"), "[run]\nfast=1\n");
  EXPECT_TRUE(fs::is_symlink(folder / "extracted/nested"));
  expect_canaries_intact();
}

}  // namespace
}  // namespace osvari::testing
