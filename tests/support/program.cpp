#include "support/program.h"

#include "support/archives.h"
#include "support/temp_dir.h"

#include "installer/child_process.h"
#include "installer/unique_fd.h"

#include <atomic>
#include <csignal>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <pwd.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvanel::test_support {

namespace {
std::atomic<int> serial{0};
}

ArgumentVector::ArgumentVector(const std::filesystem::path& program, const std::vector<std::string>& arguments)
    : texts_{program.string()}
{
    texts_.insert(texts_.end(), arguments.begin(), arguments.end());
    for (auto& text : texts_)
        pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

StartedProgram::StartedProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                               const std::filesystem::path& scratch)
{
    const std::string name = "program-" + std::to_string(serial++);
    out_ = scratch / (name + ".out");
    err_ = scratch / (name + ".err");
    const ArgumentVector argv(program, arguments);

    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // Close-on-exec: only the three standard descriptors reach the program (and, through it,
        // a Wine server that would otherwise keep the test's files open).
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        restoreDefaultSignals();
        ::execv(argv.get()[0], argv.get());
        ::_exit(127);
    }
}

StartedProgram::~StartedProgram()
{
    if (pid_ > 0)
        finish();
}

ProgramOutcome StartedProgram::finish()
{
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) { }
    pid_ = -1;
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(out_), readText(err_)};
}

ProgramOutcome runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                          const std::filesystem::path& scratch)
{
    return StartedProgram(program, arguments, scratch).finish();
}

ProgramOutcome runCommandLine(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                              const std::filesystem::path& scratch)
{
    std::vector<std::string> all{"--cli"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runProgram(program, all, scratch);
}

void restoreDefaultSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        std::signal(signal, SIG_DFL);
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

namespace {
const std::vector<std::string> asNobody{"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
}

bool canRunAsNobody()
{
    if (::geteuid() != 0 || !::getpwnam("nobody") || !std::filesystem::exists("/usr/bin/setpriv"))
        return false;
    auto probe = asNobody;
    probe.push_back("/bin/true");
    return runProgram(probe) == 0;
}

int rerunAsNobody(const std::string& filter, const std::filesystem::path& log)
{
    const UniqueFd output(::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (output.get() < 0)
        throw std::system_error(errno, std::generic_category(), "Unable to open " + log.string());
    std::vector<std::string> arguments(asNobody.begin() + 1, asNobody.end());
    arguments.push_back(std::filesystem::read_symlink("/proc/self/exe").string());
    arguments.push_back("--gtest_filter=" + filter);
    return ChildProcess::spawn({.executable = asNobody.front(), .arguments = arguments, .output = output.get()}).wait();
}

} // namespace corvanel::test_support
