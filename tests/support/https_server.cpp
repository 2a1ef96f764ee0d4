#include "support/https_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace corvanel::test_support {

namespace fs = std::filesystem;

HttpsServer::HttpsServer()
    : folder_(dir_ / "served")
    , work_(dir_ / "work")
{
    fs::create_directories(folder_);
    fs::create_directories(work_);
    const fs::path python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "/usr/local/bin/python3";
    process_.emplace(ChildProcess::spawn({
        .executable = python.string(),
        .arguments
        = {fs::path(CORVANEL_SOURCE_DIR "/tests/support/https_server.py").string(), folder_.string(), work_.string()},
    }));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(work_ / "port")) {
        if (process_->waitFor(0.02))
            throw std::runtime_error("The test HTTPS server ended before it listened");
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("The test HTTPS server did not start listening in time");
    }
    port_ = std::stoi(readText(work_ / "port"));
}

HttpsServer::~HttpsServer()
{
    if (process_ && !process_->waitFor(0)) {
        process_->signal(SIGTERM);
        if (!process_->waitFor(3))
            process_->signal(SIGKILL);
        process_->wait();
    }
}

std::string HttpsServer::url(std::string_view path) const
{
    return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void HttpsServer::cutNextAfter(const std::string& name, std::int64_t bytes) const
{
    writeText(work_ / (name + ".cut.tmp"), std::to_string(bytes));
    fs::rename(work_ / (name + ".cut.tmp"), work_ / (name + ".cut"));
}

void HttpsServer::refuseNextRange(const std::string& name) const
{
    writeText(work_ / (name + ".416.tmp"), "416");
    fs::rename(work_ / (name + ".416.tmp"), work_ / (name + ".416"));
}

std::int64_t HttpsServer::bytesSent(const std::string& name) const
{
    std::istringstream log(fs::exists(work_ / "sent.log") ? readText(work_ / "sent.log") : std::string());
    std::int64_t total = 0;
    std::string sentName;
    int status = 0;
    std::int64_t bytes = 0;
    while (log >> sentName >> status >> bytes)
        if (sentName == name)
            total += bytes;
    return total;
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name, const std::string& value)
    : name_(std::move(name))
{
    if (const char* old = std::getenv(name_.c_str()))
        previous_ = old;
    ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable()
{
    if (previous_)
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

} // namespace corvanel::test_support
