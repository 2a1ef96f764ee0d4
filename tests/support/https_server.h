#pragma once

#include "installer/child_process.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvanel::test_support {

/// A local HTTPS server (tests/support/https_server.py) with a throwaway certificate authority,
/// listening on a free port of 127.0.0.1 once constructed and stopped when dropped. Files put in
/// folder() are served under /file/NAME with an ETag, a date and range requests (If-Range
/// included); /dated/NAME with the date as its only validator; /norange/NAME always whole;
/// /redirect-http/NAME and /short/NAME serve the same file with a redirect to plain http or a
/// body cut short; /slow/NAME is /file/NAME with a 3-second pause midway through the body.
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

    /// The next answer for `name` stops after `bytes` of its body and closes the connection.
    void cutNextAfter(const std::string& name, std::int64_t bytes) const;
    /// The next range request for `name` is answered 416, whatever it asks for.
    void refuseNextRange(const std::string& name) const;
    /// The bytes of `name`'s content sent so far, over all answers; a whole file sent in answer
    /// to a range request and refused by the client at its first byte counts that byte.
    std::int64_t bytesSent(const std::string& name) const;

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

} // namespace corvanel::test_support
