// ACE's own start and stop. A static ACE (the Windows build) does not set
// itself up when the library is loaded, and doing so while the system holds
// its loader lock is unsafe; each policy object holds one start instead.
// ACE counts them, so a start where ACE already runs is harmless.
#pragma once

namespace outlinkwatch {

void AceStart();
void AceStop();

// One start held for an object's life: each part that opens sockets holds
// one, so that it works whoever made it.
class AceSession {
public:
    AceSession() { AceStart(); }
    ~AceSession() { AceStop(); }
    AceSession(const AceSession&) = delete;
    AceSession& operator=(const AceSession&) = delete;
};

}  // namespace outlinkwatch
