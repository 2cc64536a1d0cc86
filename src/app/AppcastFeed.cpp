#include "app/AppcastFeed.hpp"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <vector>

namespace pelko {
namespace {

struct Part {
    enum class Kind { number, text, separator };
    Kind kind;
    std::string value;
};

std::vector<Part> split(std::string_view version) {
    std::vector<Part> parts;
    auto kindOf = [](char c) {
        if (std::isdigit(static_cast<unsigned char>(c))) return Part::Kind::number;
        if (std::isalpha(static_cast<unsigned char>(c))) return Part::Kind::text;
        return Part::Kind::separator;
    };
    for (char c : version) {
        auto kind = kindOf(c);
        if (!parts.empty() && parts.back().kind == kind && kind != Part::Kind::separator) {
            parts.back().value += c;
        } else {
            parts.push_back({kind, std::string(1, c)});
        }
    }
    return parts;
}

int compareNumbers(std::string a, std::string b) {
    auto strip = [](std::string& s) {
        auto first = s.find_first_not_of('0');
        s = first == std::string::npos ? "0" : s.substr(first);
    };
    strip(a);
    strip(b);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool isInsignificant(const std::vector<Part>& parts, size_t from) {
    for (size_t i = from; i < parts.size(); ++i) {
        if (parts[i].kind == Part::Kind::text) return false;
        if (parts[i].kind == Part::Kind::number && compareNumbers(parts[i].value, "0") != 0) return false;
    }
    return true;
}

std::string text(const xmlChar* value) {
    return value ? reinterpret_cast<const char*>(value) : "";
}

bool isNamed(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string content(xmlNode* node) {
    xmlChar* value = xmlNodeGetContent(node);
    std::string result = text(value);
    xmlFree(value);
    auto first = result.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return result.substr(first, result.find_last_not_of(" \t\r\n") - first + 1);
}

// A namespaced attribute such as sparkle:version.
std::string namespacedAttribute(const xmlNode* node, const char* name) {
    for (const xmlAttr* attr = node->properties; attr; attr = attr->next) {
        if (attr->ns && std::strcmp(reinterpret_cast<const char*>(attr->name), name) == 0) {
            xmlChar* value = xmlNodeListGetString(node->doc, attr->children, 1);
            std::string result = text(value);
            xmlFree(value);
            return result;
        }
    }
    return {};
}

AppcastItem readItem(xmlNode* item) {
    AppcastItem result;
    for (xmlNode* child = item->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        const bool namespaced = child->ns != nullptr;
        if (!namespaced && isNamed(child, "title"))
            result.title = content(child);
        else if (!namespaced && isNamed(child, "link"))
            result.link = content(child);
        else if (namespaced && isNamed(child, "version"))
            result.version = content(child);
        else if (namespaced && isNamed(child, "shortVersionString"))
            result.shortVersionString = content(child);
        else if (!namespaced && isNamed(child, "enclosure")) {
            if (result.version.empty()) result.version = namespacedAttribute(child, "version");
            if (result.shortVersionString.empty()) {
                result.shortVersionString = namespacedAttribute(child, "shortVersionString");
            }
        }
    }
    return result;
}

}  // namespace

int AppcastFeed::compareVersions(std::string_view a, std::string_view b) {
    auto left = split(a);
    auto right = split(b);
    const size_t common = std::min(left.size(), right.size());
    for (size_t i = 0; i < common; ++i) {
        const Part& l = left[i];
        const Part& r = right[i];
        if (l.kind == r.kind) {
            if (l.kind == Part::Kind::number) {
                if (int c = compareNumbers(l.value, r.value)) return c;
            } else if (l.kind == Part::Kind::text) {
                if (int c = l.value.compare(r.value)) return c < 0 ? -1 : 1;
            }
            continue;
        }
        if (l.kind == Part::Kind::text) return -1;
        if (r.kind == Part::Kind::text) return 1;
        return l.kind == Part::Kind::number ? 1 : -1;
    }
    if (left.size() == right.size()) return 0;
    const auto& longer = left.size() > right.size() ? left : right;
    const int sign = left.size() > right.size() ? 1 : -1;
    if (isInsignificant(longer, common)) return 0;
    // Extra text ("1.0" against "1.0b2") marks a pre-release of the shorter version.
    bool extraText = false;
    for (size_t i = common; i < longer.size() && longer[i].kind != Part::Kind::number; ++i) {
        if (longer[i].kind == Part::Kind::text) extraText = true;
    }
    return extraText ? -sign : sign;
}

std::optional<AppcastItem> AppcastFeed::newestItem(std::string_view xml) {
    if (xml.empty() || xml.size() > INT_MAX) return std::nullopt;
    xmlDoc* doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "appcast.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return std::nullopt;
    std::optional<AppcastItem> newest;
    xmlNode* root = xmlDocGetRootElement(doc);
    for (xmlNode* channel = root ? root->children : nullptr; channel; channel = channel->next) {
        if (!isNamed(channel, "channel")) continue;
        for (xmlNode* node = channel->children; node; node = node->next) {
            if (!isNamed(node, "item")) continue;
            AppcastItem item = readItem(node);
            if (item.version.empty()) continue;
            if (!newest || compareVersions(item.version, newest->version) > 0) newest = std::move(item);
        }
    }
    xmlFreeDoc(doc);
    return newest;
}

}  // namespace pelko
