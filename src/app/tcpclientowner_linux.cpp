#include "app/tcpclientowner.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <array>
#include <cerrno>
#include <cstring>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The kernel answers a single look-up at once; the bound only guards against
// a kernel that never does.
constexpr int kAnswerTimeoutMs = 200;

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

struct Request
{
    nlmsghdr header;
    inet_diag_req_v2 body;
};

} // namespace

TcpClientOwner tcpClientOwner(const QTcpSocket &accepted)
{
    bool v4 = false;
    const quint32 peer = accepted.peerAddress().toIPv4Address(&v4);
    bool localV4 = false;
    const quint32 local = accepted.localAddress().toIPv4Address(&localV4);
    if (!v4 || !localV4 || accepted.peerPort() == 0 || accepted.localPort() == 0)
        return TcpClientOwner::Unknown;

    const Descriptor diag(
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_SOCK_DIAG));
    if (diag.get() < 0)
        return TcpClientOwner::Unknown;

    // One socket by its exact four values (no dump): the client's end, whose
    // own address and port are the peer's as we see them.
    Request request{};
    request.header.nlmsg_len = sizeof(request);
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.body.sdiag_family = AF_INET;
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0U;
    request.body.id.idiag_sport = htons(accepted.peerPort());
    request.body.id.idiag_dport = htons(accepted.localPort());
    request.body.id.idiag_src[0] = htonl(peer);
    request.body.id.idiag_dst[0] = htonl(local);
    request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(diag.get(), &request, sizeof(request), 0, reinterpret_cast<sockaddr *>(&kernel),
                 sizeof(kernel)) != ssize_t(sizeof(request)))
        return TcpClientOwner::Unknown;

    pollfd wait{diag.get(), POLLIN, 0};
    if (::poll(&wait, 1, kAnswerTimeoutMs) != 1)
        return TcpClientOwner::Unknown;
    alignas(nlmsghdr) std::array<char, 8192> answer{};
    const ssize_t got = ::recv(diag.get(), answer.data(), answer.size(), 0);
    if (got < ssize_t(NLMSG_LENGTH(sizeof(inet_diag_msg))))
        return TcpClientOwner::Unknown;

    const auto *header = reinterpret_cast<const nlmsghdr *>(answer.data());
    if (!NLMSG_OK(header, size_t(got)) || header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
        return TcpClientOwner::Unknown;
    inet_diag_msg message{};
    std::memcpy(&message, NLMSG_DATA(header), sizeof(message));

    // The same socket, as asked, and still open: a closed one's place in the
    // table reports no owner worth believing.
    if (message.idiag_family != AF_INET || message.idiag_state != TCP_ESTABLISHED ||
        message.id.idiag_sport != request.body.id.idiag_sport ||
        message.id.idiag_dport != request.body.id.idiag_dport ||
        message.id.idiag_src[0] != request.body.id.idiag_src[0] ||
        message.id.idiag_dst[0] != request.body.id.idiag_dst[0])
        return TcpClientOwner::Unknown;
    return message.idiag_uid == ::geteuid() ? TcpClientOwner::Us : TcpClientOwner::Other;
}
