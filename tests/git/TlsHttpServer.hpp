#pragma once
// An HTTPS server on a loopback address other than 127.0.0.1, standing for a server a repository
// would send git to: its certificate and key come from files, one handler answers every request
// (a proxy's CONNECT too) with "Connection: close", and every request that got through the handshake
// is recorded with its headers. Each connection has its own thread; a connection's reads and writes
// give up after a minute, so a client that stops never holds up the destructor for long.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "git/ProcessGitProcessRunner.hpp"
#include "platform/Environment.hpp"
#include "support/RoutedHttpServer.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {

// A certificate authority of its own, kept in `folder` ("authority.pem"), and a certificate it issued
// for `host` ("server.pem", its key "server.key"), made with the openssl command.
inline void makeAuthorityAndCertificate(const std::filesystem::path& folder, const std::string& host) {
    std::filesystem::create_directories(folder);
    writeFile(folder / "server.ext", "subjectAltName=DNS:" + host + "\nbasicConstraints=CA:FALSE\n");
    const std::string script =
        "set -e; cd \"$1\"\n"
        "openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
        "-keyout authority.key -out authority.pem -days 2 -subj '/CN=Repository Authority'\n"
        "openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
        "-keyout server.key -out server.csr -subj \"/CN=$2\"\n"
        "openssl x509 -req -in server.csr -CA authority.pem -CAkey authority.key -set_serial 2 "
        "-days 2 -out server.pem -extfile server.ext\n";
    auto made = ProcessGitProcessRunner().run({"/bin/sh", "-c", script, "sh", folder.string(), host}, folder,
                                              Environment::process().all());
    if (made.status != 0) throw std::runtime_error("openssl: " + made.stderr);
}

class TlsHttpServer {
  public:
    using Handler = std::function<HttpExchangeResponse(const HttpExchangeRequest&)>;

    TlsHttpServer(const std::filesystem::path& certificate, const std::filesystem::path& key, Handler handler,
                  const std::string& address = "127.0.0.2")
        : context_(SSL_CTX_new(TLS_server_method())), handler_(std::move(handler)) {
        if (!context_ || SSL_CTX_use_certificate_chain_file(context_, certificate.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context_, key.c_str(), SSL_FILETYPE_PEM) != 1) {
            SSL_CTX_free(context_);
            throw std::runtime_error("the server's certificate or key cannot be used");
        }
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in bound{};
        bound.sin_family = AF_INET;
        ::inet_pton(AF_INET, address.c_str(), &bound.sin_addr);
        socklen_t length = sizeof bound;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 || ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
            ::close(fd_);
            SSL_CTX_free(context_);
            throw std::runtime_error("cannot listen on " + address);
        }
        port_ = ntohs(bound.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    TlsHttpServer(const TlsHttpServer&) = delete;
    TlsHttpServer& operator=(const TlsHttpServer&) = delete;
    ~TlsHttpServer() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        acceptor_.join();
        std::vector<std::thread> workers;
        {
            std::lock_guard lock(mutex_);
            workers.swap(workers_);
        }
        for (auto& worker : workers) worker.join();
        SSL_CTX_free(context_);
    }

    int port() const { return port_; }
    std::vector<HttpExchangeRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    void acceptLoop() {
        // A client that hangs up mid-write gives EPIPE, not a signal that ends the test program; the
        // workers inherit the mask.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        for (;;) {
            int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            timeval limit{60, 0};
            ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            std::lock_guard lock(mutex_);
            workers_.emplace_back([this, client] { serve(client); });
        }
    }

    void serve(int client) {
        SSL* tls = SSL_new(context_);
        SSL_set_fd(tls, client);
        if (SSL_accept(tls) == 1) {
            if (auto request = readRequest(tls)) {
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(*request);
                }
                writeAll(tls, responseText(handler_(*request)));
                SSL_shutdown(tls);
            }
        }
        SSL_free(tls);
        ERR_clear_error();
        ::close(client);
    }

    static std::optional<HttpExchangeRequest> readRequest(SSL* tls) {
        std::string data;
        char buffer[8192];
        auto readMore = [&] {
            int count = SSL_read(tls, buffer, sizeof buffer);
            if (count > 0) data.append(buffer, static_cast<std::size_t>(count));
            return count > 0;
        };
        std::size_t headEnd;
        while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
            if (data.size() > 65536 || !readMore()) return std::nullopt;
        }
        return readHttpRequest(data, headEnd, readMore);
    }

    static std::string responseText(const HttpExchangeResponse& response) {
        std::string text = "HTTP/1.1 " + std::to_string(response.status) +
                           " X\r\nContent-Length: " + std::to_string(response.body.size()) +
                           "\r\nConnection: close\r\n";
        for (const auto& [name, value] : response.headers) text += name + ": " + value + "\r\n";
        return text + "\r\n" + response.body;
    }

    static void writeAll(SSL* tls, const std::string& text) {
        std::size_t sent = 0;
        while (sent < text.size()) {
            int count = SSL_write(tls, text.data() + sent, static_cast<int>(text.size() - sent));
            if (count <= 0) return;
            sent += static_cast<std::size_t>(count);
        }
    }

    SSL_CTX* context_;
    Handler handler_;
    int fd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<HttpExchangeRequest> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace pelko::test
