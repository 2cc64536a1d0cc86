#pragma once
// An HTTP/1.1 server on 127.0.0.1 for tests that stand in for GitHub: requests are answered by the
// handler registered for their method and path (else the fallback handler, else 404) and recorded
// with their headers and body. Each connection is served on its own thread, so a handler may block
// until the test lets it go.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackListener.hpp"

namespace pelko::test {

struct HttpExchangeRequest {
    std::string method;
    std::string path;                            // without the query
    std::string query;                           // after "?", undecoded
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    std::string header(const std::string& name) const {
        auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

// The request whose head ends at `headEnd` in `data`: its line and headers parsed, its body read on
// with `readMore` (which appends to `data`, false at the end) until its Content-Length is in.
template <class ReadMore>
HttpExchangeRequest readHttpRequest(std::string& data, std::size_t headEnd, ReadMore&& readMore) {
    HttpExchangeRequest request;
    std::istringstream head(data.substr(0, headEnd));
    std::string target, line;
    head >> request.method >> target;
    std::getline(head, line);  // the rest of the request line
    const std::size_t question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string::npos) request.query = target.substr(question + 1);
    while (std::getline(head, line)) {
        if (line.ends_with('\r')) line.pop_back();
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const std::size_t value = line.find_first_not_of(' ', colon + 1);
        request.headers[name] = value == std::string::npos ? std::string() : line.substr(value);
    }
    const std::string length = request.header("content-length");
    const std::size_t bodyEnd = headEnd + 4 + (length.empty() ? 0 : std::stoul(length));
    while (data.size() < bodyEnd && readMore()) {
    }
    request.body = data.substr(headEnd + 4);
    return request;
}

struct HttpExchangeResponse {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

class RoutedHttpServer {
  public:
    using Handler = std::function<HttpExchangeResponse(const HttpExchangeRequest&)>;

    RoutedHttpServer() {
        const auto listener = listenOnLoopback(16);
        fd_ = listener.fd;
        port_ = listener.port;
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~RoutedHttpServer() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        acceptor_.join();
        std::vector<std::thread> workers;
        {
            std::lock_guard lock(mutex_);
            workers.swap(workers_);
        }
        for (auto& worker : workers) worker.join();
    }

    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return base() + path; }

    void route(const std::string& method, const std::string& path, Handler handler) {
        std::lock_guard lock(mutex_);
        routes_[method + " " + path] = std::move(handler);
    }
    // Answers every request that no route takes (its path may be a proxy's absolute address).
    void fallback(Handler handler) {
        std::lock_guard lock(mutex_);
        fallback_ = std::move(handler);
    }
    void respond(const std::string& method, const std::string& path, int status, std::string body) {
        route(method, path, [status, body](const HttpExchangeRequest&) {
            return HttpExchangeResponse{status, body, {}};
        });
    }

    std::vector<HttpExchangeRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<HttpExchangeRequest> requests(const std::string& path) const {
        std::vector<HttpExchangeRequest> matching;
        for (auto& request : requests())
            if (request.path == path) matching.push_back(request);
        return matching;
    }

  private:
    void acceptLoop() {
        for (;;) {
            int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            std::lock_guard lock(mutex_);
            workers_.emplace_back([this, client] { serve(client); });
        }
    }

    void serve(int client) {
        std::string data;
        char buffer[8192];
        auto readMore = [&] {
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n > 0) data.append(buffer, static_cast<size_t>(n));
            return n > 0;
        };
        std::size_t headerEnd;
        while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
            if (!readMore()) {
                ::close(client);
                return;
            }
        }
        HttpExchangeRequest request = readHttpRequest(data, headerEnd, readMore);
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            auto found = routes_.find(request.method + " " + request.path);
            handler = found != routes_.end() ? found->second : fallback_;
        }
        HttpExchangeResponse response = handler ? handler(request) : HttpExchangeResponse{404, "", {}};
        std::string text = "HTTP/1.1 " + std::to_string(response.status) +
                           " X\r\nContent-Length: " + std::to_string(response.body.size()) +
                           "\r\nConnection: close\r\n";
        for (const auto& [name, value] : response.headers) text += name + ": " + value + "\r\n";
        text += "\r\n" + response.body;
        size_t sent = 0;
        while (sent < text.size()) {
            // A client that has gone (an application quit meanwhile) must not end the test with SIGPIPE.
            ssize_t n = ::send(client, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        ::close(client);
    }

    int fd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, Handler> routes_;
    Handler fallback_;
    std::vector<HttpExchangeRequest> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace pelko::test
