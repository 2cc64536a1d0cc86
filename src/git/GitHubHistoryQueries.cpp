#include "git/GitHubHistoryQueries.hpp"

#include <algorithm>

namespace pelko {

const std::string_view GitHubHistoryQueries::commitHistory =
    R"graphql(query CommitHistory($owner: String!, $name: String!, $qualifiedName: String!, $pageSize: Int!, $cursor: String) {
  repository(owner: $owner, name: $name) {
    ref(qualifiedName: $qualifiedName) {
      target {
        ... on Commit {
          history(first: $pageSize, after: $cursor) {
            pageInfo {
              hasNextPage
              endCursor
            }
            edges {
              cursor
              node {
                oid
                messageHeadline
                committedDate
                author {
                  name
                  user {
                    login
                  }
                }
                files(first: 100) {
                  nodes {
                    path
                    additions
                    deletions
                  }
                }
                parents(first: 5) {
                  nodes {
                    oid
                  }
                }
              }
            }
          }
        }
      }
    }
    defaultBranchRef {
      target {
        ... on Commit {
          history(first: $pageSize, after: $cursor) {
            pageInfo {
              hasNextPage
              endCursor
            }
            edges {
              cursor
              node {
                oid
                messageHeadline
                committedDate
                author {
                  name
                  user {
                    login
                  }
                }
                files(first: 100) {
                  nodes {
                    path
                    additions
                    deletions
                  }
                }
                parents(first: 5) {
                  nodes {
                    oid
                  }
                }
              }
            }
          }
        }
      }
    }
  }
})graphql";

const std::string_view GitHubHistoryQueries::commitHistoryWithoutFiles =
    R"graphql(query CommitHistoryWithoutFiles($owner: String!, $name: String!, $qualifiedName: String!, $pageSize: Int!, $cursor: String) {
  repository(owner: $owner, name: $name) {
    ref(qualifiedName: $qualifiedName) {
      target {
        ... on Commit {
          history(first: $pageSize, after: $cursor) {
            pageInfo {
              hasNextPage
              endCursor
            }
            edges {
              cursor
              node {
                oid
                messageHeadline
                committedDate
                author {
                  name
                  user {
                    login
                  }
                }
                parents(first: 5) {
                  nodes {
                    oid
                  }
                }
              }
            }
          }
        }
      }
    }
    defaultBranchRef {
      target {
        ... on Commit {
          history(first: $pageSize, after: $cursor) {
            pageInfo {
              hasNextPage
              endCursor
            }
            edges {
              cursor
              node {
                oid
                messageHeadline
                committedDate
                author {
                  name
                  user {
                    login
                    avatarUrl
                  }
                }
                parents(first: 5) {
                  nodes {
                    oid
                  }
                }
              }
            }
          }
        }
      }
    }
  }
})graphql";

const std::string_view GitHubHistoryQueries::commitGraph =
    R"graphql(query CommitGraph($owner: String!, $name: String!, $pageSize: Int!) {
  repository(owner: $owner, name: $name) {
    defaultBranchRef {
      target {
        ... on Commit {
          history(first: $pageSize) {
            edges {
              node {
                oid
                messageHeadline
                committedDate
                author {
                  name
                  user {
                    login
                  }
                }
                parents(first: 5) {
                  nodes {
                    oid
                  }
                }
              }
            }
          }
        }
      }
    }
  }
})graphql";

std::int64_t GitHubHistoryQueries::clampedPageSize(std::int64_t pageSize) {
    return std::clamp<std::int64_t>(pageSize, 1, 100);
}

Json GitHubHistoryQueries::historyVariables(const std::string& owner, const std::string& name,
                                            const std::string& branch, std::int64_t pageSize,
                                            const std::optional<std::string>& cursor) {
    Json variables = Json::object();
    variables["owner"] = owner;
    variables["name"] = name;
    variables["qualifiedName"] = "refs/heads/" + branch;
    variables["pageSize"] = clampedPageSize(pageSize);
    variables["cursor"] = cursor ? Json(*cursor) : Json(nullptr);
    return variables;
}

Json GitHubHistoryQueries::graphVariables(const std::string& owner, const std::string& name,
                                          std::int64_t pageSize) {
    Json variables = Json::object();
    variables["owner"] = owner;
    variables["name"] = name;
    variables["pageSize"] = clampedPageSize(pageSize);
    return variables;
}

}  // namespace pelko
