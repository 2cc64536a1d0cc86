#pragma once
// IndexPage: the HTML the web view loads. Relative asset openings (src="./…", href="./…") are
// rewritten to the "app://bundle/" base so the page's files come through the "app" scheme; the
// fallback page stands in when the resource bundle holds no web build.
//
// Pure text work, safe from any thread.
#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace pelko {

struct IndexPage {
    static constexpr const char* baseAddress = "app://bundle/";
    static constexpr const char* readFailureText = "Failed to read index.html";

    // Applied in this order, each to the result of the previous one. The "./" pairs come first so an
    // asset keeps its folder ("./assets/x.js" -> "app://bundle/assets/x.js"), which is where it lies
    // relative to the index page; the "./assets/" pairs then only meet text the first two left.
    static const std::array<std::pair<std::string_view, std::string_view>, 4>& rewritePairs();

    static std::string rewrite(std::string html);
    static std::string fallbackHtml();

    // What to load for an index file: its rewritten text, or the read-failure text (then no base
    // address applies) when it cannot be read as UTF-8.
    struct Loaded {
        std::string html;
        bool usesBaseAddress = false;
    };
    static Loaded load(const std::filesystem::path& indexFile);
};

}  // namespace pelko
