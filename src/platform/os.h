// The operating-system seam. Every Windows service the plug-in uses is
// reached through one Os object, which hands out one interface per service,
// so that the Linux backend, the Win32 backend and the test fake can stand
// in for each other. Backends turn an OS call into a plain result;
// decisions stay in the shared code. Each service states its own result
// convention at the top of its header.
//
// Method names stay clear of the Win32 macros (CreateEvent, GetObject...).
#pragma once

#include "platform/hkey.h"
#include "platform/os_clock.h"
#include "platform/os_device.h"
#include "platform/os_files.h"
#include "platform/os_kernel.h"
#include "platform/os_network.h"
#include "platform/os_registry.h"
#include "platform/os_system.h"
#include "platform/os_users.h"

namespace outlinkwatch {

class Os {
public:
    virtual ~Os() = default;

    // The backend this build was made for (chosen by CMake).
    static Os* Default();

    // The services; each lives as long as the Os.
    virtual KernelObjects* Kernel() = 0;
    virtual RegistryService* Registry() = 0;
    virtual FileService* Files() = 0;
    virtual UserService* Users() = 0;
    virtual NetworkService* Network() = 0;
    virtual ClockService* Clock() = 0;
    virtual DeviceService* Device() = 0;
    virtual SystemService* System() = 0;
};

// Hands out another Os's services, so a test replaces only the services it
// intercepts (with the service wrappers beside the interfaces).
class OsWrapper : public Os {
public:
    explicit OsWrapper(Os* target) : target_(target) {}
    Os* target() const { return target_; }

    KernelObjects* Kernel() override { return target_->Kernel(); }
    RegistryService* Registry() override { return target_->Registry(); }
    FileService* Files() override { return target_->Files(); }
    UserService* Users() override { return target_->Users(); }
    NetworkService* Network() override { return target_->Network(); }
    ClockService* Clock() override { return target_->Clock(); }
    DeviceService* Device() override { return target_->Device(); }
    SystemService* System() override { return target_->System(); }

private:
    Os* target_;
};

// An Os that is itself the services that share state in its backend (the
// Linux backend and the test fake); the kernel objects and the registry are
// its subclass's to hand out.
class SelfServedOs : public Os,
                     public FileService,
                     public UserService,
                     public NetworkService,
                     public ClockService,
                     public DeviceService,
                     public SystemService {
public:
    FileService* Files() override { return this; }
    UserService* Users() override { return this; }
    NetworkService* Network() override { return this; }
    ClockService* Clock() override { return this; }
    DeviceService* Device() override { return this; }
    SystemService* System() override { return this; }
};

// The Os the plug-in uses. Os::Default() unless a test replaced it (before
// CreateObject; the factory takes no options).
Os* CurrentOs();
// Replaces the process-wide Os; null restores the default. Returns the previous one.
Os* SetOsForTesting(Os* os);
// Frees the default Os when the library is unloaded with no policy left.
void ReleaseDefaultOs();
// Made by the backend of this build; Os::Default() keeps the one instance.
Os* NewDefaultOs();

}  // namespace outlinkwatch
