// The console program as a child process on Windows: its command line built
// with the C runtime's quoting rules, standard input from a pipe the test
// fills and closes, standard output and error read together to their end.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/module_path.h"
#include "run_program.h"

namespace {

std::wstring Wide(const std::string& text) {
    if (text.empty())
        return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// One argument as the C runtime's parser reads it back.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

class Handle {
  public:
    Handle() = default;
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE* Out() { return &h_; }
    HANDLE Get() const { return h_; }
    void Close() {
        if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
        h_ = nullptr;
    }

  private:
    HANDLE h_ = nullptr;
};

}  // namespace

std::string ProgramPath() {
    return (platform::ModuleDirectory() / "vantrel.exe").string();
}

std::string SuiteProgramPath(const std::string& name) {
    return (platform::ModuleDirectory() / (name + ".exe")).string();
}

ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& input,
                      const std::string& runtimeDir, bool printLess) {
    ProgramRun run;
    // The child inherits the environment; each test case runs in a process of its own.
    SetEnvironmentVariableW(L"KTR_RUNTIME_DIR", Wide(runtimeDir).c_str());
    SetEnvironmentVariableW(L"VANTREL_PRINT_LESS", printLess ? L"1" : nullptr);

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle inRead, inWrite, outRead, outWrite;
    if (!CreatePipe(inRead.Out(), inWrite.Out(), &inherit, 0) ||
        !CreatePipe(outRead.Out(), outWrite.Out(), &inherit, 0)) {
        run.output = "CreatePipe failed";
        return run;
    }
    SetHandleInformation(inWrite.Get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead.Get(), HANDLE_FLAG_INHERIT, 0);

    const std::wstring program = Wide(ProgramPath());
    std::wstring commandLine = Quoted(program);
    for (const std::string& arg : args)
        commandLine += L" " + Quoted(Wide(arg));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead.Get();
    startup.hStdOutput = outWrite.Get();
    startup.hStdError = outWrite.Get();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
        run.output = "CreateProcess failed: " + std::to_string(GetLastError());
        return run;
    }
    CloseHandle(process.hThread);
    inRead.Close();
    outWrite.Close();

    // Input goes in from a thread of its own, so that a child that prints
    // before it reads cannot stall both sides.
    std::thread feeder([&] {
        DWORD written = 0;
        if (!input.empty())
            WriteFile(inWrite.Get(), input.data(), static_cast<DWORD>(input.size()), &written,
                      nullptr);
        inWrite.Close();
    });
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(outRead.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        run.output.append(buffer, got);
    feeder.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    if (GetExitCodeProcess(process.hProcess, &status))
        run.exitStatus = static_cast<int>(status);
    CloseHandle(process.hProcess);
    // The C runtime writes text streams with CR LF line ends; the cases
    // compare lines as the program composes them.
    std::string lines;
    for (size_t i = 0; i < run.output.size(); ++i)
        if (!(run.output[i] == '\r' && i + 1 < run.output.size() && run.output[i + 1] == '\n'))
            lines.push_back(run.output[i]);
    run.output = std::move(lines);
    return run;
}
