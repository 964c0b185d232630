// RedirectionGuard: with it on, Windows follows no junction that a non-administrator made, in
// any path this process opens.
#pragma once

// Turns it on where Windows offers it (Windows 11 22H2 and later); elsewhere, and under Wine,
// nothing happens. Must run before the log's start-up, which opens files as SYSTEM.
void EnableRedirectionGuard();
