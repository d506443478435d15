// Windows (and Wine): CreateProcessW with the standard handles on files and an environment
// block of our own.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>

#include <gtest/gtest.h>

#include "felica/system/utf16.h"
#include "support/program_run.h"
#include "support/windows_path.h"

namespace test_support {
namespace {

using felica::system::utf16_from_utf8;

std::string slurp(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A command line that the C runtime splits back into `argv`: each argument quoted (the tests
// pass none with a quote or a trailing backslash, which would need escapes).
std::wstring command_line(const std::vector<std::string>& argv) {
    std::wstring line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        line +=
            (i == 0 ? L"\"" + windows_path(argv[i]) : L" \"" + utf16_from_utf8(argv[i])) + L"\"";
    }
    return line;
}

std::wstring environment_block(const std::map<std::string, std::string>& extra) {
    std::wstring block;
    LPWCH current = GetEnvironmentStringsW();
    for (const wchar_t* entry = current; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring_view variable = entry;
        if (variable.starts_with(L"LIBNFC_") || variable.starts_with(L"VIRUDE_READER=")) {
            continue;
        }
        block.append(variable);
        block += L'\0';
    }
    FreeEnvironmentStringsW(current);
    for (const auto& [name, value] : extra) {
        block += utf16_from_utf8(name + "=" + value);
        block += L'\0';
    }
    block += L'\0';
    return block;
}

HANDLE output_file(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProgramRun run_program(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& environment,
                       StandardOutput output) {
    // Named after this process and the run, so that test programs run in parallel keep
    // apart, and so that no run can read an earlier run's files: under Wine a child's
    // handles may outlive its exit for a moment, and the files could not be replaced.
    static int runs = 0;
    const std::wstring stem = utf16_from_utf8(testing::TempDir()) + L"program_run_" +
                              std::to_wstring(GetCurrentProcessId()) + L"_" +
                              std::to_wstring(++runs);
    const std::wstring out_path = stem + L".out";
    const std::wstring err_path = stem + L".err";

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
    // Windows has no device that is always full: a pipe whose reader has gone refuses every
    // write just the same.
    HANDLE out = nullptr;
    switch (output) {
        case StandardOutput::collected:
            out = output_file(out_path);
            break;
        case StandardOutput::full_device: {
            HANDLE reader = nullptr;
            CreatePipe(&reader, &out, &inherit, 0);
            CloseHandle(reader);
            break;
        }
        case StandardOutput::closed:
            break;
    }
    HANDLE err = output_file(err_path);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::wstring line = command_line(argv);
    std::wstring variables = environment_block(environment);
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
                                        variables.data(), nullptr, &startup, &process);
    CloseHandle(in);
    if (out != nullptr) {
        CloseHandle(out);
    }
    CloseHandle(err);

    ProgramRun run;
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code)) {
            run.exit_code = static_cast<int>(code);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    run.out = slurp(out_path);
    run.err = slurp(err_path);
    DeleteFileW(out_path.c_str());
    DeleteFileW(err_path.c_str());
    return run;
}

}  // namespace test_support
