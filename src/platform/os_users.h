// The user and process service of the OS seam: processes and their access
// tokens, impersonation, the users' environments and accounts, and the
// hidden command.
//
// Result convention: true on success and false on failure, the answer in
// out-parameters; the two look-ups whose callers tell their failures apart
// answer a UserStatus instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_kernel.h"

namespace outlinkwatch {

// How a token look-up ended.
enum class UserStatus {
    kOk,              // the process was opened (its token may still be null), or the SID read
    kSnapshotFailed,  // the process list could not be taken
    kNoProcess,       // no process of that name, or it could not be opened
    kNoMemory,        // no heap block for the token information
    kFailed,          // the token information could not be read
};

// Bounds of the user look-ups.
constexpr size_t kMaxUserKeys = 4096;

class UserService {
public:
    virtual ~UserService() = default;

    // Finds the first process, in the system's order, whose image name is
    // imageName (case ignored) and opens its user's access token, closed
    // with CloseObject: kOk, kSnapshotFailed or kNoProcess. sessionId is
    // written only when it is known; token only when the token could be opened.
    virtual UserStatus OpenProcessTokenByImage(const std::string& imageName, Handle* token,
                                               uint32_t* sessionId) = 0;
    // The token's user as SID text ("S-1-5-21-..."): kOk, kNoMemory or kFailed.
    virtual UserStatus TokenUserSid(Handle token, std::string* sidText) = 0;
    // The names of the keys under HKEY_USERS, in enumeration order, at most
    // kMaxUserKeys. False when HKEY_USERS cannot be opened.
    virtual bool UserKeyNames(std::vector<std::string>* names) = 0;
    // Makes the calling thread act as the token's user until
    // RevertImpersonation.
    virtual bool ImpersonateToken(Handle token) = 0;
    virtual void RevertImpersonation() = 0;
    // The name of the user the thread acts as (the token's user while
    // impersonating), at most 255 bytes.
    virtual bool ImpersonatedUserName(Handle token, std::string* name) = 0;
    // Expands %name% variables in the token user's environment; the result
    // holds at most 259 bytes.
    virtual bool ExpandForUser(Handle token, const std::string& text, std::string* out) = 0;
    // Expands %name% variables in this process's environment; unknown ones stay.
    virtual bool ExpandEnvironment(const std::string& text, std::string* out) = 0;
    // The account name of a SID given as text, in the system's language.
    virtual bool AccountNameOfSid(const std::string& sidText, std::string* name) = 0;
    // Whether this process runs with the rights of the system's administrators.
    virtual bool ProcessIsAdministrator() = 0;
    // WinExec of a "cmd /C ..." line with the window hidden: starts it and
    // returns at once, never waiting for the command. False when it could
    // not be started.
    virtual bool StartHiddenCommand(const std::string& commandLine) = 0;
    // Ends every command StartHiddenCommand started, with all it started
    // in turn, and forgets them. WinExec gives no handle: on Windows nothing.
    virtual void EndHiddenCommands() = 0;
};

// Forwards every call to another UserService, so a test overrides only what it needs.
class UserWrapper : public UserService {
public:
    explicit UserWrapper(UserService* target) : target_(target) {}

    UserStatus OpenProcessTokenByImage(const std::string& imageName, Handle* token, uint32_t* sessionId) override {
        return target_->OpenProcessTokenByImage(imageName, token, sessionId);
    }
    UserStatus TokenUserSid(Handle token, std::string* sidText) override { return target_->TokenUserSid(token, sidText); }
    bool UserKeyNames(std::vector<std::string>* names) override { return target_->UserKeyNames(names); }
    bool ImpersonateToken(Handle token) override { return target_->ImpersonateToken(token); }
    void RevertImpersonation() override { target_->RevertImpersonation(); }
    bool ImpersonatedUserName(Handle token, std::string* name) override {
        return target_->ImpersonatedUserName(token, name);
    }
    bool ExpandForUser(Handle token, const std::string& text, std::string* out) override {
        return target_->ExpandForUser(token, text, out);
    }
    bool ExpandEnvironment(const std::string& text, std::string* out) override {
        return target_->ExpandEnvironment(text, out);
    }
    bool AccountNameOfSid(const std::string& sidText, std::string* name) override {
        return target_->AccountNameOfSid(sidText, name);
    }
    bool ProcessIsAdministrator() override { return target_->ProcessIsAdministrator(); }
    bool StartHiddenCommand(const std::string& commandLine) override {
        return target_->StartHiddenCommand(commandLine);
    }
    void EndHiddenCommands() override { target_->EndHiddenCommands(); }

private:
    UserService* target_;
};

}  // namespace outlinkwatch
