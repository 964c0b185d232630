// A counting global operator new for a test or benchmark binary: allocations made while
// counting is on are tallied, so a binary can show that a loop allocated nothing. Link
// counting_new.cpp into that binary alone: it replaces the global operator new.
#pragma once

namespace counting_new {
void Start();  // zero the tally and count from now on
long Stop();   // stop counting; the allocations since Start
} // namespace counting_new
