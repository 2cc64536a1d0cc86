#include "app/IndexPage.hpp"

#include <glib.h>

#include "platform/AtomicFile.hpp"

namespace pelko {

const std::array<std::pair<std::string_view, std::string_view>, 4>& IndexPage::rewritePairs() {
    static const std::array<std::pair<std::string_view, std::string_view>, 4> pairs{{
        {"src=\"./", "src=\"app://bundle/"},
        {"href=\"./", "href=\"app://bundle/"},
        {"src=\"./assets/", "src=\"app://bundle/"},
        {"href=\"./assets/", "href=\"app://bundle/"},
    }};
    return pairs;
}

std::string IndexPage::rewrite(std::string html) {
    for (const auto& [find, replacement] : rewritePairs()) {
        std::string result;
        result.reserve(html.size());
        size_t start = 0;
        for (size_t at = html.find(find); at != std::string::npos; at = html.find(find, start)) {
            result.append(html, start, at - start);
            result.append(replacement);
            start = at + find.size();
        }
        result.append(html, start, std::string::npos);
        html = std::move(result);
    }
    return html;
}

std::string IndexPage::fallbackHtml() {
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>pelko</title></head>"
           "<body style=\"background:#05060A;color:#fff;font-family:-apple-system\">"
           "<h2 style=\"padding:24px\">Vite ビルド成果物が見つかりませんでした。</h2>"
           "<p style=\"padding:24px\">`web` ディレクトリで `pnpm build` を実行し、成果物を Resources/web "
           "に配置してください。</p></body></html>";
}

IndexPage::Loaded IndexPage::load(const std::filesystem::path& indexFile) {
    std::string text;
    if (readWholeFile(indexFile, text) ||
        !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        return {readFailureText, false};
    }
    return {rewrite(std::move(text)), true};
}

}  // namespace pelko
