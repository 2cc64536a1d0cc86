#pragma once
// An HTTP/1.1 server on 127.0.0.1 for tests that stand in for GitHub: requests are answered by the
// handler registered for their method and path (404 otherwise) and recorded with their headers and
// body. Each connection is served on its own thread, so a handler may block until the test lets it go.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <map>
#include <mutex>
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

    static std::string lower(std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        return text;
    }

    void serve(int client) {
        std::string data;
        char buffer[8192];
        size_t headerEnd;
        while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
            ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(client);
                return;
            }
            data.append(buffer, static_cast<size_t>(n));
        }
        HttpExchangeRequest request;
        std::string head = data.substr(0, headerEnd);
        size_t lineEnd = head.find("\r\n");
        std::string requestLine = head.substr(0, lineEnd);
        size_t firstSpace = requestLine.find(' ');
        size_t secondSpace = requestLine.find(' ', firstSpace + 1);
        request.method = requestLine.substr(0, firstSpace);
        std::string target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
        size_t question = target.find('?');
        request.path = target.substr(0, question);
        if (question != std::string::npos) request.query = target.substr(question + 1);
        size_t position = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
        while (position < head.size()) {
            size_t end = head.find("\r\n", position);
            if (end == std::string::npos) end = head.size();
            std::string line = head.substr(position, end - position);
            size_t colon = line.find(':');
            if (colon != std::string::npos) {
                std::string value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(' '));
                request.headers[lower(line.substr(0, colon))] = value;
            }
            position = end + 2;
        }
        size_t contentLength = 0;
        if (auto length = request.header("content-length"); !length.empty())
            contentLength = std::stoul(length);
        request.body = data.substr(headerEnd + 4);
        while (request.body.size() < contentLength) {
            ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0) break;
            request.body.append(buffer, static_cast<size_t>(n));
        }
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            auto found = routes_.find(request.method + " " + request.path);
            if (found != routes_.end()) handler = found->second;
        }
        HttpExchangeResponse response = handler ? handler(request) : HttpExchangeResponse{404, "", {}};
        std::string text = "HTTP/1.1 " + std::to_string(response.status) +
                           " X\r\nContent-Length: " + std::to_string(response.body.size()) +
                           "\r\nConnection: close\r\n";
        for (const auto& [name, value] : response.headers) text += name + ": " + value + "\r\n";
        text += "\r\n" + response.body;
        size_t sent = 0;
        while (sent < text.size()) {
            ssize_t n = ::write(client, text.data() + sent, text.size() - sent);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        ::close(client);
    }

    int fd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, Handler> routes_;
    std::vector<HttpExchangeRequest> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace pelko::test
