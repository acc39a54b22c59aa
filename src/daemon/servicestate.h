#pragma once

// Plain C++ on purpose: the Win32 service query shares these types and must
// compile without Qt.

// The daemon service's state, numbered as the Windows service manager numbers
// its current-state field; QueryFailed stands for "no answer" of any kind.
enum class ServiceState
{
    QueryFailed = 0,
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
    ContinuePending = 5,
    PausePending = 6,
    Paused = 7,
};

// What the launcher does once it knows the service's state.
enum class DaemonAction
{
    StartNothing,    // a daemon is there or on its way
    CheckExecutable, // start the executable beside the interface, if it is there
};

constexpr ServiceState serviceStateFromCode(unsigned long code)
{
    return code >= 1 && code <= 7 ? static_cast<ServiceState>(code) : ServiceState::QueryFailed;
}

constexpr DaemonAction daemonActionFor(ServiceState state)
{
    return state == ServiceState::Running || state == ServiceState::StartPending
               ? DaemonAction::StartNothing
               : DaemonAction::CheckExecutable;
}
