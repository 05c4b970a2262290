#include "probes/ace_session.h"

#include <ace/Init_ACE.h>

namespace outlinkwatch {

void AceStart() { ACE::init(); }
void AceStop() { ACE::fini(); }

}  // namespace outlinkwatch
