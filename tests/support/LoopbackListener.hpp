#pragma once
// A TCP socket listening on 127.0.0.1 at a port the system picks, for the tests' loopback servers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace pelko::test {

struct LoopbackListener {
    int fd = -1;
    int port = 0;
};

// The caller closes the socket.
inline LoopbackListener listenOnLoopback(int backlog) {
    LoopbackListener listener;
    listener.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener.fd, backlog);
    socklen_t length = sizeof address;
    ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &length);
    listener.port = ntohs(address.sin_port);
    return listener;
}

}  // namespace pelko::test
