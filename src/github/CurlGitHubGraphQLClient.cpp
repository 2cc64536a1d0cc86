#include "github/CurlGitHubGraphQLClient.hpp"

#include "github/CurlHttpTransport.hpp"
#include "github/GitHubGraphQLClientError.hpp"

namespace pelko {

CurlGitHubGraphQLClient::CurlGitHubGraphQLClient(const GitHubEndpoints& endpoints)
    : endpoint_(endpoints.graphQLURL()) {}

Json CurlGitHubGraphQLClient::execute(const std::string& query, const Json& variables,
                                      const std::string& token) const {
    using Error = GitHubGraphQLClientError;
    if (token.empty()) throw Error(Error::Code::unauthorized);
    if (endpoint_.rfind("http", 0) != 0) throw Error(Error::Code::invalidURL);

    Json body = Json::object();
    body["query"] = query;
    body["variables"] = variables.is_null() ? Json::object() : variables;

    CurlHttpTransport::Request request;
    request.method = "POST";
    request.url = endpoint_;
    request.headers = {{"Content-Type", "application/json"},
                       {"Accept", "application/vnd.github.antiope-preview+json, application/json"},
                       {"X-GitHub-Api-Version", "2022-11-28"},
                       {"Authorization", "Bearer " + token}};
    request.body = json::encode(body);
    request.idleTimeout = std::chrono::seconds(10);
    request.totalTimeout = std::chrono::seconds(30);
    auto response = CurlHttpTransport::send(request);

    if (response.status == 401) throw Error(Error::Code::unauthorized);
    if (response.status < 200 || response.status > 299) throw Error(Error::Code::invalidResponse);

    // Parser messages can quote the body, so a malformed answer is only ever `invalidResponse`.
    auto envelope = json::parse(response.body);
    if (!envelope || !envelope->is_object()) throw Error(Error::Code::invalidResponse);
    std::vector<std::string> messages;
    try {
        if (const Json* errors = json::optArray(*envelope, "errors")) {
            for (const auto& error : *errors) messages.push_back(json::reqString(error, "message"));
        }
    } catch (const DecodeError&) {
        throw Error(Error::Code::invalidResponse);
    }
    if (!messages.empty()) throw Error(Error::Code::graphqlErrors, std::move(messages));
    auto data = envelope->find("data");
    if (data == envelope->end() || data->is_null()) throw Error(Error::Code::emptyData);
    return *data;
}

}  // namespace pelko
