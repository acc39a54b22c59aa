#pragma once

class QTcpSocket;

// Whose program holds the other end of a connection accepted on this
// machine's loopback: the user running this process, someone else, or nobody
// the system will name (then it is treated as someone else).
enum class TcpClientOwner
{
    Us,
    Other,
    Unknown,
};

// Asks the kernel for the socket at the far end of `accepted` (a connection
// from 127.0.0.1 to a port we listen on). Only an open, established socket
// counts: one that is closing no longer says who made it.
TcpClientOwner tcpClientOwner(const QTcpSocket &accepted);
