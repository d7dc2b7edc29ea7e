#include "tests/support/process_runner.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <memory>
#include <mutex>

#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace osvari::testing {
namespace {

struct Pipe {
  UniqueHandle read_end;
  UniqueHandle write_end;
};

enum class ChildEnd { write, read };

// A pipe whose child's end alone is inherited.
Pipe make_inheritable_pipe(ChildEnd child_end = ChildEnd::write) {
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &attributes, 0)) return {};
  SetHandleInformation(child_end == ChildEnd::write ? read_end : write_end, HANDLE_FLAG_INHERIT, 0);
  return {UniqueHandle(read_end), UniqueHandle(write_end)};
}

// Shared by run_process and its writing thread, which may outlive it (see Reader).
struct Writer {
  UniqueHandle pipe;
  std::string bytes;
};

// Writes everything, then closes the pipe so that the child reads end of file.
DWORD WINAPI write_all_and_close(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Writer>> owned(static_cast<std::shared_ptr<Writer>*>(parameter));
  Writer& writer = **owned;
  std::size_t written = 0;
  while (written < writer.bytes.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(writer.bytes.size() - written, 1 << 16));
    DWORD count = 0;
    if (!WriteFile(writer.pipe.get(), writer.bytes.data() + written, piece, &count, nullptr)) break;
    written += count;
  }
  writer.pipe.reset();
  return 0;
}

// Shared by run_process and its reading thread: a thread that a grandchild keeps waiting on an
// open pipe may outlive run_process, and must then find its pipe and text still there.
struct Reader {
  UniqueHandle pipe;
  std::mutex lock;
  std::string text;

  std::string text_so_far() {
    const std::lock_guard guard(lock);
    return text;
  }
};

DWORD WINAPI read_to_end(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Reader>> owned(static_cast<std::shared_ptr<Reader>*>(parameter));
  Reader& reader = **owned;
  char buffer[4096];
  DWORD count = 0;
  while (ReadFile(reader.pipe.get(), buffer, sizeof buffer, &count, nullptr) && count > 0) {
    const std::lock_guard guard(reader.lock);
    reader.text.append(buffer, count);
  }
  return 0;
}

UniqueHandle start_reading(const std::shared_ptr<Reader>& reader) {
  auto* shared = new std::shared_ptr<Reader>(reader);
  UniqueHandle thread(CreateThread(nullptr, 0, read_to_end, shared, 0, nullptr));
  if (!thread.is_valid()) delete shared;
  return thread;
}

std::wstring upper(std::wstring text) {
  for (auto& unit : text) unit = static_cast<wchar_t>(std::towupper(unit));
  return text;
}

std::wstring environment_block(const ProcessOptions& options) {
  std::map<std::wstring, std::pair<std::wstring, std::wstring>> variables;  // by upper-case name
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
    std::wstring text(entry);
    const auto equals = text.find(L'=', 1);
    if (equals == std::wstring::npos) continue;
    const std::wstring name = text.substr(0, equals);
    variables[upper(name)] = {name, text.substr(equals + 1)};
  }
  FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : options.environment) {
    if (value)
      variables[upper(name)] = {name, *value};
    else
      variables.erase(upper(name));
  }
  std::wstring block;
  for (const auto& [key, variable] : variables) {
    block += variable.first + L"=" + variable.second;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

}  // namespace

ProcessResult run_process(const std::wstring& program, const std::wstring& command_line,
                          const ProcessOptions& options) {
  ProcessResult result;
  Pipe output = make_inheritable_pipe();
  Pipe error = make_inheritable_pipe();
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, TRUE};
  UniqueFileHandle file_input;
  Pipe input;
  if (options.standard_input) {
    input = make_inheritable_pipe(ChildEnd::read);
  } else {
    const std::wstring input_name = options.input_file.empty() ? L"NUL" : options.input_file;
    file_input.reset(CreateFileW(input_name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                                 OPEN_EXISTING, 0, nullptr));
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = options.standard_input ? input.read_end.get() : file_input.get();
  startup.hStdOutput = output.write_end.get();
  startup.hStdError = error.write_end.get();

  std::wstring mutable_command_line = command_line;
  std::wstring environment = environment_block(options);
  PROCESS_INFORMATION information{};
  if (!CreateProcessW(program.c_str(), mutable_command_line.data(), nullptr, nullptr, TRUE,
                      CREATE_UNICODE_ENVIRONMENT | (options.before_start ? CREATE_SUSPENDED : 0),
                      environment.data(),
                      options.current_directory.empty() ? nullptr : options.current_directory.c_str(), &startup,
                      &information)) {
    result.exit_code = 0xFFFFFFFF;
    result.standard_error = "test harness: CreateProcessW failed with " + std::to_string(GetLastError());
    return result;
  }
  UniqueHandle process(information.hProcess);
  UniqueHandle thread(information.hThread);
  if (options.before_start) {
    options.before_start(information.dwProcessId);
    ResumeThread(thread.get());
  }
  output.write_end.reset();
  error.write_end.reset();
  input.read_end.reset();
  UniqueHandle input_thread;
  if (options.standard_input) {
    auto* writer = new std::shared_ptr<Writer>(std::make_shared<Writer>(std::move(input.write_end), *options.standard_input));
    input_thread = UniqueHandle(CreateThread(nullptr, 0, write_all_and_close, writer, 0, nullptr));
    if (!input_thread.is_valid()) delete writer;
  }

  auto output_reader = std::make_shared<Reader>();
  auto error_reader = std::make_shared<Reader>();
  output_reader->pipe = std::move(output.read_end);
  error_reader->pipe = std::move(error.read_end);
  UniqueHandle output_thread = start_reading(output_reader);
  UniqueHandle error_thread = start_reading(error_reader);

  if (WaitForSingleObject(process.get(), options.timeout_ms) != WAIT_OBJECT_0) {
    result.timed_out = true;
    TerminateProcess(process.get(), 0xDEAD);
    WaitForSingleObject(process.get(), 5000);
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process.get(), &exit_code);
  result.exit_code = exit_code;

  // A grandchild that inherited the pipes may keep them open; give up on it after a while.
  HANDLE readers[] = {output_thread.get(), error_thread.get()};
  if (WaitForMultipleObjects(2, readers, TRUE, 10'000) != WAIT_OBJECT_0) {
    CancelSynchronousIo(output_thread.get());
    CancelSynchronousIo(error_thread.get());
    WaitForMultipleObjects(2, readers, TRUE, 2'000);
  }
  // A child that stopped reading its input leaves the writer blocked until the pipe breaks.
  if (input_thread.is_valid() && WaitForSingleObject(input_thread.get(), 10'000) != WAIT_OBJECT_0) {
    CancelSynchronousIo(input_thread.get());
    WaitForSingleObject(input_thread.get(), 2'000);
  }
  result.standard_output = output_reader->text_so_far();
  result.standard_error = error_reader->text_so_far();
  return result;
}

ProcessResult run_program(const std::wstring& program, const std::vector<std::wstring>& arguments,
                          const ProcessOptions& options) {
  std::wstring command_line = L"\"" + program + L"\"";
  for (const auto& argument : arguments) command_line += L" " + argument;
  return run_process(program, command_line, options);
}

std::string without_carriage_returns(std::string text) {
  std::erase(text, '\r');
  return text;
}

}  // namespace osvari::testing
