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
// The processor architecture and, from the locale, the UI language and OEM
// code page (simplified Chinese 2052/936, traditional 950).
SystemFacts SystemInfoFacts();
// uname's machine text as a Windows processor architecture number.
uint16_t ArchitectureOf(const std::string& machine);
// A module handle is an address inside the module, as on Windows.
bool ModuleFileName(Handle module, std::string* path);
// Root, or a member of "sudo" (Debian) or "wheel" (the Red Hat family).
bool ProcessIsAdministrator();
bool IsAdministratorsGroup(const std::string& groupName);
bool AccountNameOfSid(const std::string& sidText, std::string* name);
// The texts of os-release and of the DMI files, read apart from the files:
// a text without the line ends and blanks it ends with, and the system's
// name in os-release text (PRETTY_NAME, else NAME, without its quotes).
std::string TrimmedSysText(std::string text);
std::string OsReleaseNameOf(const std::string& text);
FirmwareFacts Firmware(const std::string& dmiDir = "/sys/class/dmi/id");
bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics);
// GetAdaptersInfo over getifaddrs.
//
// Every interface but loopback is an adapter, as Windows lists no loopback
// adapter. Each comes with its IPv4 addresses as dotted texts in order, or
// "0.0.0.0" when it has none or is down (Windows shows a disconnected
// adapter without its address). Address aliases ("eth0:1") belong to their
// device ("eth0"): Linux device names cannot hold ':', and Windows shows one
// adapter with several addresses. Adapters come in the order getifaddrs
// first names them. False, with kErrorNotSupported, when getifaddrs fails.
bool Adapters(AdapterDetail detail, std::vector<AdapterInfo>* out, uint32_t* error);

}  // namespace linuxsys
}  // namespace outlinkwatch
