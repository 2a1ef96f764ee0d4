#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace corvanel::test_support {

/// A program and its arguments as execv takes them; the texts live as long as this object.
class ArgumentVector {
public:
    ArgumentVector(const std::filesystem::path& program, const std::vector<std::string>& arguments);
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;
    char* const* get() const { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

struct ProgramOutcome {
    int status = -1; ///< exit code, or -1 when a signal ended the program
    std::string out;
    std::string err;
};

/// A program started with its output in files of a scratch folder; waited for when dropped.
class StartedProgram {
public:
    StartedProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& scratch);
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;
    ~StartedProgram();

    pid_t pid() const { return pid_; }
    /// Waits for the end and reads both outputs.
    ProgramOutcome finish();

private:
    pid_t pid_ = -1;
    std::filesystem::path out_;
    std::filesystem::path err_;
};

/// Runs a program to its end, standard input from the null device.
ProgramOutcome runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                          const std::filesystem::path& scratch);

/// Runs `program` in command-line mode (`--cli` before `arguments`), as runProgram does.
ProgramOutcome runCommandLine(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                              const std::filesystem::path& scratch);

/// Whether this process may run programs as the user nobody (it is root, and the system lets it).
bool canRunAsNobody();

/// Runs this test program again as the user nobody with a GoogleTest filter; its output goes to
/// `log`. Returns the exit status.
int rerunAsNobody(const std::string& filter, const std::filesystem::path& log);

/// The non-empty lines of `text`.
std::vector<std::string> linesOf(const std::string& text);

/// In a forked child before exec: the program meets Ctrl-C and friends as from a terminal, even
/// where the test runner was started with them ignored (a background job of a script, nohup),
/// which every exec would otherwise pass on.
void restoreDefaultSignals();

} // namespace corvanel::test_support
