#include "support/Process.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempTree.hpp"

namespace fs = std::filesystem;

namespace logreap::test {
namespace {

[[noreturn]] void failInChild(const char* what) {
    const int error = errno;
    std::fprintf(stderr, "test child: %s: %s\n", what, std::strerror(error));
    _exit(127);
}

}  // namespace

ProcessResult runProgram(const fs::path& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
    const TempTree capture;
    const fs::path outPath = capture / "stdout";
    const fs::path errPath = capture / "stderr";

    std::vector<std::string> words{program.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = options.environment;  // putenv keeps the text

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::system_error(errno, std::generic_category(), "fork");
    }
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0)
            failInChild("open");
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(options.errorsToOutput ? out : err, 2);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
            failInChild("chdir");
        }
        for (auto& entry : environment) {
            ::putenv(entry.data());
        }
        const rlimit limit{options.fileLimit.value_or(0), options.fileLimit.value_or(0)};
        if (options.fileLimit && ::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            failInChild("setrlimit");
        }
        if (options.uid) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(*options.uid) != 0 ||
                ::setuid(*options.uid) != 0) {
                failInChild("drop privileges");
            }
        }
        ::execv(argv[0], argv.data());
        failInChild("execv");
    }
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0) {
        if (errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "waitpid");
    }
    ProcessResult result;
    if (WIFEXITED(raw))
        result.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        result.signal = WTERMSIG(raw);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

ProcessResult runLogreap(const std::vector<std::string>& args, const ProcessOptions& options) {
    return runProgram(LOGREAP_BINARY, args, options);
}

void chownTree(const fs::path& root, unsigned uid) {
    const auto give = [uid](const fs::path& path) {
        if (::lchown(path.c_str(), uid, uid) != 0) {
            throw std::system_error(errno, std::generic_category(), "lchown " + path.string());
        }
    };
    give(root);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        give(entry.path());
    }
}

unsigned unprivilegedUid() {
    return 65534;
}  // nobody

}  // namespace logreap::test
