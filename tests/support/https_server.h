#pragma once

#include "installer/child_process.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvanel::testing {

/// A local HTTPS server (tests/support/https_server.py) with a throwaway certificate authority,
/// listening on a free port of 127.0.0.1 once constructed and stopped when dropped. Files put in
/// folder() are served under /file/NAME; /redirect-http/NAME, /short/NAME and /slow/NAME serve
/// the same file with a redirect to plain http, a body cut short, or a 3-second pause midway.
class HttpsServer {
public:
    HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;
    ~HttpsServer();

    const std::filesystem::path& folder() const { return folder_; }
    /// The certificate a client must trust (for curl: CURL_CA_BUNDLE).
    std::filesystem::path caBundle() const { return work_ / "ca.crt"; }
    int port() const { return port_; }
    /// "https://127.0.0.1:PORT" + `path`.
    std::string url(std::string_view path) const;

private:
    TempDir dir_;
    std::filesystem::path folder_;
    std::filesystem::path work_;
    std::optional<ChildProcess> process_;
    int port_ = 0;
};

/// Sets an environment variable for the lifetime of the object, then restores the old value
/// (or its absence).
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(std::string name, const std::string& value);
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;
    ~ScopedEnvironmentVariable();

private:
    std::string name_;
    std::optional<std::string> previous_;
};

} // namespace corvanel::testing
