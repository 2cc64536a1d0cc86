#include "github/GitHubGraphQLClientError.hpp"

namespace pelko {

GitHubGraphQLClientError::GitHubGraphQLClientError(Code code, std::vector<std::string> messages)
    : std::runtime_error(describe(code, messages)), code_(code), messages_(std::move(messages)) {}

std::string GitHubGraphQLClientError::describe(Code code, const std::vector<std::string>& messages) {
    switch (code) {
        case Code::graphqlErrors: {
            std::string text;
            for (const auto& message : messages) {
                if (!text.empty()) text += '\n';
                text += message;
            }
            return text;
        }
        case Code::invalidURL:
            return "GraphQL エンドポイントの URL が不正です";
        case Code::invalidResponse:
            return "GraphQL 応答が不正です";
        case Code::unauthorized:
            return "GraphQL リクエストが認証されませんでした";
        case Code::emptyData:
            return "GraphQL 応答にデータが含まれていません";
    }
    return "GraphQL 応答が不正です";
}

}  // namespace pelko
