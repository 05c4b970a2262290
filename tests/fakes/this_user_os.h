// The real backend, except that the UI process is this test process (root's,
// in CI) and its user's profile directory a throwaway home.
#pragma once

#include <filesystem>
#include <string>
#include <utility>

#include "platform/os.h"

namespace outlinkwatch {

class ThisUserOs : public OsWrapper, UserWrapper {
public:
    ThisUserOs(Os* real, std::string home) : OsWrapper(real), UserWrapper(real->Users()), home_(std::move(home)) {}
    UserService* Users() override { return this; }
    UserStatus OpenProcessTokenByImage(const std::string&, Handle* token, uint32_t* session) override {
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
        return UserWrapper::OpenProcessTokenByImage(self, token, session);
    }
    bool ExpandForUser(Handle, const std::string&, std::string* out) override { return *out = home_, true; }

private:
    std::string home_;
};

}  // namespace outlinkwatch
