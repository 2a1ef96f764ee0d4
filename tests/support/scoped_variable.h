#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace corvanel::test_support {

/// Sets an environment variable for its lifetime, then puts back what was there before.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value)
        : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value, 1);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable()
    {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace corvanel::test_support
