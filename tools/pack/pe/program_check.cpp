#include "tools/pack/pe/program_check.h"

#include "tools/pack/pe/pe_reader.h"

namespace osvari::pack {
namespace {

constexpr int pe_runtime_header_directory = 14;
constexpr std::uint32_t runtime_header_flags_offset = 16;
constexpr std::uint32_t runtime_flag_intermediate_language_only = 0x1;

enum class ManagedCode { none, mixed, only, damaged };

// A .NET assembly carries a runtime header; one flagged as intermediate language only has no
// native code for the loader to enter without the .NET runtime's help.
ManagedCode managed_code_of(const ImageBytes& bytes, const PeHeaders& headers) {
  const PeDataDirectory runtime = headers.directory(pe_runtime_header_directory);
  if (runtime.address == 0 || runtime.size == 0) return ManagedCode::none;
  const auto header = headers.file_offset(runtime.address, runtime_header_flags_offset + 4);
  if (!header) return ManagedCode::damaged;
  const auto flags = bytes.u32(*header + runtime_header_flags_offset);
  if (!flags) return ManagedCode::damaged;
  return (*flags & runtime_flag_intermediate_language_only) != 0 ? ManagedCode::only : ManagedCode::mixed;
}

}  // namespace

ProgramImage check_program(const ImageBytes& bytes) {
  const auto read_header = read_pe_file_header(bytes);
  if (const auto* problem = std::get_if<PeHeaderProblem>(&read_header)) {
    switch (*problem) {
      case PeHeaderProblem::no_mz_header: return {ProgramCheck::no_mz_header};
      case PeHeaderProblem::no_pe_header: return {ProgramCheck::no_pe_header};
      case PeHeaderProblem::cut_short: return {ProgramCheck::damaged};
    }
  }
  const PeFileHeader& file_header = std::get<PeFileHeader>(read_header);
  if (file_header.is_dll()) return {ProgramCheck::is_dll};
  const std::optional<PeHeaders> headers = PeHeaders::read(bytes, file_header);
  if (!headers) return {ProgramCheck::damaged};
  // An assembly built for any processor says x86 in its header: the .NET advice fits it better.
  switch (managed_code_of(bytes, *headers)) {
    case ManagedCode::only: return {ProgramCheck::managed_only};
    case ManagedCode::damaged: return {ProgramCheck::damaged};
    case ManagedCode::none:
    case ManagedCode::mixed: break;
  }
  switch (file_header.machine) {
    case pe_machine_x86_64: break;
    case pe_machine_x86: return {ProgramCheck::x86_32};
    case pe_machine_arm64: return {ProgramCheck::arm64};
    default: return {ProgramCheck::other_machine};
  }
  if (file_header.optional_magic != pe_optional_header_pe32_plus) return {ProgramCheck::damaged};
  const std::uint16_t subsystem = headers->subsystem();
  if (subsystem != subsystem_gui && subsystem != subsystem_console) return {ProgramCheck::other_subsystem, subsystem};
  return {ProgramCheck::program, subsystem};
}

std::string_view program_check_description(ProgramCheck verdict) {
  switch (verdict) {
    case ProgramCheck::program: return {};
    case ProgramCheck::no_mz_header:
      return "is neither a Windows program nor a DLL (no MZ header): give an x86-64 .exe, or a DLL that exports run_code";
    case ProgramCheck::no_pe_header:
      return "is neither a Windows program nor a DLL (no PE header): give an x86-64 .exe, or a DLL that exports run_code";
    case ProgramCheck::damaged: return "is damaged (a header lies outside the file)";
    case ProgramCheck::is_dll: return "is a DLL, not a program";
    case ProgramCheck::x86_32:
      return "is a 32-bit (x86) program; onefile executables run x86-64 programs only: build it for x86-64";
    case ProgramCheck::arm64:
      return "is an ARM64 program; onefile executables run x86-64 programs only: build it for x86-64";
    case ProgramCheck::other_machine:
      return "is not built for x86-64; onefile executables run x86-64 programs only: build it for x86-64";
    case ProgramCheck::managed_only:
      return "is a .NET assembly with no native entry: publish it for win-x64 with an apphost (a native .exe) and "
             "pack that .exe with its files";
    case ProgramCheck::other_subsystem:
      return "is not a GUI or console program (a driver or another subsystem): give an x86-64 Windows program";
  }
  return "is not a usable program";
}

}  // namespace osvari::pack
