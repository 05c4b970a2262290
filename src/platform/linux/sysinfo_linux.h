// Files, system facts and adapters on Linux, for the utility library's part
// of the OS seam. Windows notions are answered by their Linux counterparts
// where one exists and left empty where none does.
#pragma once

#include <string>
#include <vector>

#include "platform/os.h"

namespace outlinkwatch {
namespace linuxsys {

// Read-only means the caller may not write it (access W_OK), which for
// root is only a read-only file system.
bool FileAttributes(const std::string& path, FileFacts* facts);
bool FileAccessTime(const std::string& path, CalendarTime* local);
SystemFacts SystemInfoFacts();
// A module handle is an address inside the module, as on Windows.
bool ModuleFileName(Handle module, std::string* path);
// Root, or a member of "sudo" (Debian) or "wheel" (the Red Hat family).
bool ProcessIsAdministrator();
bool IsAdministratorsGroup(const std::string& groupName);
bool AccountNameOfSid(const std::string& sidText, std::string* name);
FirmwareFacts Firmware(const std::string& dmiDir = "/sys/class/dmi/id");
bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics);
bool NetworkInterfaces(std::vector<InterfaceFacts>* out);

}  // namespace linuxsys
}  // namespace outlinkwatch
