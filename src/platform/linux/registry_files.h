// The Linux registry stand-in: one file per hive ("HKEY_USERS.reg") in the
// registry editor's export format, in a registry directory (the environment
// variable OUTLINKWATCH_REGISTRY_DIR, else /var/lib/outlinkwatch/registry).
// Both registry views see the same files.
//
// Every change re-reads the hive under an advisory lock (flock on
// "<hive>.reg.lock"), so writers in several processes keep each other's
// changes, and replaces the file atomically (a new file in the same
// directory, fsync, rename). A file that does not parse is refused with
// ERROR_BADDB and never written over; a missing file is an empty hive.
//
// Only this process's user and root may have written what is read: the
// directory (made 0700) and the hive files (written 0600) must be theirs,
// writable by no one else and not links, or the call fails with
// ERROR_ACCESS_DENIED and one report line.
#pragma once

#include <functional>
#include <string>

#include "emulation/reg_tree_registry.h"

namespace outlinkwatch {

constexpr char kDefaultRegistryDir[] = "/var/lib/outlinkwatch/registry";

class FileRegistry : public TreeRegistry {
public:
    // dir empty: the directory named by the environment at each call.
    // report receives one line for each refused file.
    explicit FileRegistry(std::string dir = std::string(),
                          std::function<void(const std::string&)> report = nullptr);

    std::string Directory() const;

protected:
    uint32_t WithHive(const std::string& hive, bool write, const HiveFn& fn) override;
    uint32_t HiveDate(const std::string& hive, LocalDate* date) override;

private:
    // name in the registry directory open as dirFd; path names it in reports.
    uint32_t Load(int dirFd, const std::string& name, const std::string& path, regfile::Key* root);
    uint32_t Store(int dirFd, const std::string& name, const regfile::Key& root);
    // One report line; the answer for a refused file or directory.
    uint32_t Refuse(const std::string& what, const std::string& why);

    std::string dir_;
    std::function<void(const std::string&)> report_;
};

}  // namespace outlinkwatch
