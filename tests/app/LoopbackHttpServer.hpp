#pragma once
// A one-route HTTP server on 127.0.0.1 for tests: every request gets the same status and body.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/LoopbackListener.hpp"

namespace pelko::test {

class LoopbackHttpServer {
  public:
    LoopbackHttpServer(int status, std::string body) : status_(status), body_(std::move(body)) {
        const auto listener = listenOnLoopback(8);
        fd_ = listener.fd;
        port_ = listener.port;
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackHttpServer() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int requests() const { return requests_; }

  private:
    void serve() {
        for (;;) {
            int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            ++requests_;
            std::string response = "HTTP/1.1 " + std::to_string(status_) +
                                   " X\r\nContent-Length: " + std::to_string(body_.size()) +
                                   "\r\nConnection: close\r\n\r\n" + body_;
            (void)!::write(client, response.data(), response.size());
            ::close(client);
        }
    }
    int status_;
    std::string body_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::thread thread_;
};

}  // namespace pelko::test
