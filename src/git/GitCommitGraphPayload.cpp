#include "git/GitCommitGraphPayload.hpp"

#include <array>
#include <optional>
#include <unordered_map>

namespace pelko {
namespace {

// A lane is empty or holds the oid of the commit it waits for.
class Lanes {
  public:
    std::size_t takeLowestEmpty() {
        for (std::size_t index = 0; index < slots_.size(); ++index) {
            if (!slots_[index]) return index;
        }
        slots_.emplace_back();
        return slots_.size() - 1;
    }
    void hold(std::size_t lane, const std::string& oid) { slots_[lane] = oid; }
    void empty(std::size_t lane) { slots_[lane].reset(); }

  private:
    std::vector<std::optional<std::string>> slots_;
};

}  // namespace

Json GitCommitGraphNodePayload::toJson() const {
    Json object = Json::object();
    object["oid"] = oid;
    object["lane"] = lane;
    object["branchColor"] = branchColor;
    object["messageHeadline"] = messageHeadline;
    object["authorName"] = authorName;
    object["committedDate"] = committedDate;
    return object;
}

Json GitCommitGraphEdgePayload::toJson() const {
    Json object = Json::object();
    object["from"] = from;
    object["to"] = to;
    object["lane"] = lane;
    return object;
}

Json GitCommitGraphPayload::toJson() const {
    Json object = Json::object();
    object["projectId"] = projectId;
    Json nodeList = Json::array();
    for (const auto& node : nodes) nodeList.push_back(node.toJson());
    object["nodes"] = std::move(nodeList);
    Json edgeList = Json::array();
    for (const auto& edge : edges) edgeList.push_back(edge.toJson());
    object["edges"] = std::move(edgeList);
    return object;
}

const std::string& commitGraphLaneColor(std::int64_t lane) {
    static const std::array<std::string, 8> colors = {"#E57373", "#64B5F6", "#81C784", "#FFB74D",
                                                      "#BA68C8", "#4DB6AC", "#AED581", "#FFD54F"};
    return colors[static_cast<std::size_t>(lane % 8)];
}

GitCommitGraphPayload buildCommitGraphPayload(const std::string& projectId,
                                              const std::vector<GitHubHistoryResponse::CommitNode>& commits) {
    GitCommitGraphPayload payload;
    payload.projectId = projectId;
    Lanes lanes;
    std::unordered_map<std::string, std::size_t> expected;
    for (const auto& commit : commits) {
        std::size_t lane;
        if (auto found = expected.find(commit.oid); found != expected.end()) {
            lane = found->second;
            expected.erase(found);
            lanes.empty(lane);
        } else {
            lane = lanes.takeLowestEmpty();
        }
        auto laneNumber = static_cast<std::int64_t>(lane);
        std::string authorName = "Unknown";
        if (commit.author) authorName = commit.author->displayName().value_or("Unknown");
        payload.nodes.push_back({commit.oid, laneNumber, commitGraphLaneColor(laneNumber),
                                 commit.messageHeadline.value_or(""), std::move(authorName),
                                 commit.committedDate});

        if (!commit.parents || !commit.parents->nodes) continue;
        bool first = true;
        for (const auto& parent : *commit.parents->nodes) {
            std::size_t parentLane = first ? lane : lanes.takeLowestEmpty();
            first = false;
            lanes.hold(parentLane, parent.oid);
            expected[parent.oid] = parentLane;
            payload.edges.push_back({commit.oid, parent.oid, static_cast<std::int64_t>(parentLane)});
        }
    }
    return payload;
}

}  // namespace pelko
