// Checks that an image is a Windows program the launcher can start as it is: an x86-64
// executable for the GUI or console subsystem with native code to enter. The bytes are
// untrusted: a damaged image is reported, never read past.
#pragma once

#include <cstdint>
#include <string_view>

#include "tools/pack/pe/image_bytes.h"

namespace osvari::pack {

inline constexpr std::uint16_t pe_machine_x86 = 0x14C;
inline constexpr std::uint16_t pe_machine_arm64 = 0xAA64;
inline constexpr std::uint16_t subsystem_gui = 2;
inline constexpr std::uint16_t subsystem_console = 3;

enum class ProgramCheck {
  program,
  no_mz_header,
  no_pe_header,
  damaged,       // truncated, or a header or directory outside the image
  is_dll,
  x86_32,        // a 32-bit x86 program
  arm64,
  other_machine,
  managed_only,  // a .NET assembly whose code is all intermediate language
  other_subsystem,
};

struct ProgramImage {
  ProgramCheck verdict = ProgramCheck::damaged;
  std::uint16_t subsystem = 0;  // for program: subsystem_gui or subsystem_console
};

// Reads only the headers and, where there is one, the .NET runtime header.
ProgramImage check_program(const ImageBytes& bytes);

// What is wrong and what to do, for "'<path>' <text>"; empty for program.
std::string_view program_check_description(ProgramCheck verdict);

}  // namespace osvari::pack
