#pragma once

// The per-user "start with the system" entry named Kestrix, which starts this
// executable hidden in the tray. Its presence is the preference: there is no
// separate stored flag. Failures are silent; the next start reads what is there.
namespace Autostart {

// True when the entry exists. Its command line is not examined, so an entry
// left by an older install location still counts.
bool exists();

// Creates or replaces the entry for the running executable and flushes it.
void write();

// Removes the entry and flushes.
void remove();

} // namespace Autostart
