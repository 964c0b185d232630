// A counting global operator new for the benchmark binary: allocations made while counting is
// on are tallied, so a benchmark can show that its loop allocated nothing.
#pragma once

namespace counting_new {
void Start();  // zero the tally and count from now on
long Stop();   // stop counting; the allocations since Start
} // namespace counting_new
