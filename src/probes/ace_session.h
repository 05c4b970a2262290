// ACE's own start and stop. A static ACE (the Windows build) does not set
// itself up when the library is loaded, and doing so while the system holds
// its loader lock is unsafe; each policy object holds one start instead.
// ACE counts them, so a start where ACE already runs is harmless.
#pragma once

namespace outlinkwatch {

void AceStart();
void AceStop();

}  // namespace outlinkwatch
