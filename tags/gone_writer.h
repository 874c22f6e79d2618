// The wake a writer owes when its process died holding the database lock.
#pragma once

#include "core/records.h"

namespace rk {

// Releases, in every running application, the clients asleep in a tag wait
// that have an unseen change on a tag they wait on, and those the writer
// had collected into a pending-wake mask. Kernel mutex held, the dead
// writer's lock gone on already.
void wake_for_gone_writer(Kgd* kgd);

}  // namespace rk
