#pragma once

// Plain C++ on purpose: the Windows pipe check uses it and must build without Qt.

#include <string>

// Who serves the daemon's endpoint, as the operating system reports it.
struct PeerIdentity
{
    bool known = false;          // the system told us who the peer is
    std::string user;            // uid in decimal on Unix, SID text on Windows
    unsigned long processId = 0; // the serving process (Windows), 0 if unknown
};

// Whom this interface trusts to be its daemon.
struct TrustPolicy
{
    std::string ownUser;                // this process's uid / SID text
    std::string systemUser;             // "0" on Unix, "S-1-5-18" (LocalSystem) on Windows
    unsigned long serviceProcessId = 0; // the running kestrix service's process, 0 if none
};

// The one decision: a peer we could identify that runs as the system, as
// ourselves, or is the running service's own process. Everything else is
// refused, an unidentified peer above all.
bool isTrustedDaemon(const PeerIdentity &peer, const TrustPolicy &policy);
