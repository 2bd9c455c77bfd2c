// Runs a child process with CreateProcessW, its standard output and error sent
// to files and its standard input from NUL.

#include <windows.h>

#include <stdexcept>
#include <string>
#include <system_error>

#include "support/Process.hpp"
#include "support/TempTree.hpp"

namespace fs = std::filesystem;

namespace logreap::test {
namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

std::wstring wide(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end())).native();
}

// One argument as the runtime's command-line parser reads it back: quoted,
// with the backslashes before a quote doubled and the quote escaped.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {
        if (handle_ == INVALID_HANDLE_VALUE || handle_ == nullptr) {
            fail("CreateFileW");
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { ::CloseHandle(handle_); }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

HANDLE openInheritable(const fs::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Text-mode streams end their lines with CR LF here; the results read as the
// other platforms' do, so that the expectations are shared.
std::string withLineFeeds(std::string text) {
    std::string::size_type at = 0;
    while ((at = text.find("\r\n", at)) != std::string::npos) {
        text.erase(at, 1);
        ++at;
    }
    return text;
}

}  // namespace

ProcessResult runProgram(const fs::path& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
    if (options.uid) {
        throw std::logic_error("running as another user is not supported on Windows");
    }
    const TempTree capture;
    const fs::path outPath = capture / "stdout";
    const fs::path errPath = capture / "stderr";
    ProcessResult result;
    {
        const Handle out(openInheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS));
        const Handle err(openInheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS));
        const Handle in(openInheritable(L"NUL", GENERIC_READ, OPEN_EXISTING));

        std::wstring line;
        appendQuoted(line, program.native());
        for (const auto& arg : args) {
            line += L' ';
            appendQuoted(line, wide(arg));
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.get();
        startup.hStdOutput = out.get();
        startup.hStdError = options.errorsToOutput ? out.get() : err.get();
        PROCESS_INFORMATION process{};
        const wchar_t* directory =
            options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
        if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              directory, &startup, &process)) {
            fail("CreateProcessW");
        }
        ::CloseHandle(process.hThread);
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        ::CloseHandle(process.hProcess);
        result.status = static_cast<int>(code);
    }
    result.out = withLineFeeds(readFile(outPath));
    result.err = withLineFeeds(readFile(errPath));
    return result;
}

// logreap.exe lies beside the test programs (one output folder for them all).
ProcessResult runLogreap(const std::vector<std::string>& args, const ProcessOptions& options) {
    std::wstring self(MAX_PATH, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, self.data(), MAX_PATH);
    self.resize(length);
    return runProgram(fs::path(self).parent_path() / L"logreap.exe", args, options);
}

void chownTree(const fs::path&, unsigned) {
    throw std::logic_error("no unprivileged user is modelled on Windows");
}

unsigned unprivilegedUid() {
    throw std::logic_error("no unprivileged user is modelled on Windows");
}

}  // namespace logreap::test
