#pragma once
// git's smart HTTP for the loopback test servers: `git http-backend` run as a CGI program over the
// bare repositories under a folder. Each request's body goes to the program through a file and its
// answer comes back through one, so pack data stays byte for byte.
#include <filesystem>
#include <string>

#include "git/GitTestSupport.hpp"
#include "platform/Base64.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko::test {

// The Authorization value git sends with the token as its password.
inline std::string basicToken(const std::string& token) {
    return "Basic " + base64::encode("x-access-token:" + token);
}

// Whether any header of the request (Authorization, Proxy-Authorization) holds `token`, as it stands
// or inside Basic credentials.
inline bool carries(const HttpExchangeRequest& request, const std::string& token) {
    for (const auto& [name, value] : request.headers) {
        if (value.find(token) != std::string::npos) return true;
        if (value.starts_with("Basic ")) {
            auto decoded = base64::decode(value.substr(6));
            if (decoded && std::string(decoded->begin(), decoded->end()).find(token) != std::string::npos)
                return true;
        }
    }
    return false;
}

inline HttpExchangeResponse serveWithGitHttpBackend(const HttpExchangeRequest& request,
                                                    const std::filesystem::path& root) {
    TempDir exchange;
    writeFile(exchange / "in", request.body);
    auto environment = isolatedGitEnvironment();
    environment["GIT_PROJECT_ROOT"] = root.string();
    environment["GIT_HTTP_EXPORT_ALL"] = "1";
    environment["REQUEST_METHOD"] = request.method;
    environment["PATH_INFO"] = request.path;
    environment["QUERY_STRING"] = request.query;
    environment["CONTENT_TYPE"] = request.header("content-type");
    environment["CONTENT_LENGTH"] = std::to_string(request.body.size());
    environment["HTTP_CONTENT_ENCODING"] = request.header("content-encoding");
    environment["GIT_PROTOCOL"] = request.header("git-protocol");
    environment["REMOTE_USER"] = "tester";  // lets receive-pack take pushes
    environment["REMOTE_ADDR"] = "127.0.0.1";
    auto run = ProcessGitProcessRunner().run({"/bin/sh", "-c", "exec git http-backend <\"$1\" >\"$2\"", "sh",
                                              (exchange / "in").string(), (exchange / "out").string()},
                                             root, environment);
    if (run.status != 0) return {500, run.stderr, {}};
    std::string output = readFile(exchange / "out");
    std::size_t end = output.find("\r\n\r\n");
    if (end == std::string::npos) return {500, "no CGI header", {}};
    HttpExchangeResponse response{200, output.substr(end + 4), {}};
    std::size_t start = 0;
    while (start < end) {
        std::size_t lineEnd = output.find("\r\n", start);
        std::string line = output.substr(start, lineEnd - start);
        start = lineEnd + 2;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        std::string value = line.substr(line.find_first_not_of(' ', colon + 1));
        if (name == "Status") {
            response.status = std::stoi(value);
        } else if (name != "Content-Length") {
            response.headers.emplace_back(name, value);
        }
    }
    return response;
}

// A challenge for Basic credentials, as a server that wants them answers.
inline HttpExchangeResponse basicChallenge() {
    return {401, "", {{"WWW-Authenticate", "Basic realm=\"test\""}}};
}

}  // namespace pelko::test
