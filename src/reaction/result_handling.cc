// What a finding leads to: the notification and the reaction "block" asks for.
#include "plugin/policy.h"

// Not built yet: nothing is sent or prompted.
void CPolicy::PackNotifyMsg(const std::string&, const std::string&, const std::string&, const std::string&) {}
int CPolicy::HandleResult(std::string) { return 0; }
