#include "tools/pack/pe/program_check.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/tools/pack/support/pe_image_builder.h"

namespace osvari::pack {
namespace {

using testing::build_pe_image;
using testing::PeImageSpec;
using testing::put_u16;
using testing::put_u32;
namespace layout = testing::pe_layout;

constexpr std::uint16_t executable_characteristics = 0x0022;
constexpr std::size_t subsystem_field = layout::optional_header + 68;
constexpr std::size_t runtime_directory_entry = layout::optional_header + 112 + 14 * 8;

std::string program(std::uint16_t subsystem = subsystem_console, std::uint16_t machine = 0x8664) {
  std::string image = build_pe_image({.machine = machine, .characteristics = executable_characteristics});
  put_u16(image, subsystem_field, subsystem);
  return image;
}

// A .NET runtime header laid over the export directory's bytes, whose flags sit where the
// export directory keeps its ordinal base.
std::string assembly(std::uint32_t runtime_flags, std::uint16_t machine = 0x8664) {
  std::string image = program(subsystem_console, machine);
  put_u32(image, runtime_directory_entry, layout::export_section_address);
  put_u32(image, runtime_directory_entry + 4, 72);
  put_u32(image, layout::export_section + 16, runtime_flags);
  return image;
}

struct ProgramCase {
  const char* description;
  std::function<std::string()> image;
  ProgramCheck expected;
  std::uint16_t subsystem = 0;
};

TEST(ProgramCheck, ClassifiesImages) {
  const ProgramCase cases[] = {
      {"console program", [] { return program(subsystem_console); }, ProgramCheck::program, subsystem_console},
      {"GUI program", [] { return program(subsystem_gui); }, ProgramCheck::program, subsystem_gui},
      {"mixed-mode assembly with native code", [] { return assembly(0); }, ProgramCheck::program, subsystem_console},
      {"DLL", [] { return build_pe_image(); }, ProgramCheck::is_dll},
      {"32-bit program", [] { return program(subsystem_console, 0x014C); }, ProgramCheck::x86_32},
      {"ARM64 program", [] { return program(subsystem_console, 0xAA64); }, ProgramCheck::arm64},
      {"Itanium program", [] { return program(subsystem_console, 0x0200); }, ProgramCheck::other_machine},
      {"intermediate-language-only assembly", [] { return assembly(1); }, ProgramCheck::managed_only},
      {"any-CPU assembly, which says x86", [] { return assembly(1, 0x014C); }, ProgramCheck::managed_only},
      {"runtime header outside every section",
       [] {
         std::string image = assembly(1);
         put_u32(image, runtime_directory_entry, 0x7FFF0000);
         return image;
       },
       ProgramCheck::damaged},
      {"native driver subsystem", [] { return program(1); }, ProgramCheck::other_subsystem},
      {"EFI application subsystem", [] { return program(10); }, ProgramCheck::other_subsystem},
      {"empty file", [] { return std::string(); }, ProgramCheck::no_mz_header},
      {"text", [] { return std::string("#!/bin/sh\necho not a program\n"); }, ProgramCheck::no_mz_header},
      {"wrong PE signature",
       [] {
         std::string image = program();
         image[layout::pe_signature + 1] = 'X';
         return image;
       },
       ProgramCheck::no_pe_header},
      {"cut inside the COFF header", [] { return program().substr(0, layout::coff_header + 10); },
       ProgramCheck::damaged},
      {"cut inside the section table", [] { return program().substr(0, layout::section_table + 20); },
       ProgramCheck::damaged},
  };
  for (const ProgramCase& test : cases) {
    const std::string image = test.image();
    const ProgramImage result = check_program(ImageBytes::in_memory(image));
    EXPECT_EQ(result.verdict, test.expected) << test.description;
    if (test.expected == ProgramCheck::program) {
      EXPECT_EQ(result.subsystem, test.subsystem) << test.description;
    }
  }
}

TEST(ProgramCheck, EveryRefusalSaysWhatToDo) {
  EXPECT_TRUE(program_check_description(ProgramCheck::program).empty());
  for (const ProgramCheck verdict : {ProgramCheck::x86_32, ProgramCheck::arm64, ProgramCheck::other_machine}) {
    EXPECT_NE(std::string(program_check_description(verdict)).find("build it for x86-64"), std::string::npos);
  }
  EXPECT_NE(std::string(program_check_description(ProgramCheck::managed_only)).find("apphost"), std::string::npos);
  EXPECT_NE(std::string(program_check_description(ProgramCheck::no_mz_header)).find("run_code"), std::string::npos);
}

}  // namespace
}  // namespace osvari::pack
