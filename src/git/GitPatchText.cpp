#include "git/GitPatchText.hpp"

#include <openssl/evp.h>

#include <array>
#include <optional>

namespace pelko {

namespace {

// git's abbreviated blob id ("index 0000000..<id>"): the SHA-1 of "blob <size>\0<bytes>".
std::string blobId(std::string_view bytes) {
    std::string header = "blob " + std::to_string(bytes.size());
    header.push_back('\0');
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ok = context && EVP_DigestInit_ex(context, EVP_sha1(), nullptr) == 1 &&
              EVP_DigestUpdate(context, header.data(), header.size()) == 1 &&
              EVP_DigestUpdate(context, bytes.data(), bytes.size()) == 1 &&
              EVP_DigestFinal_ex(context, digest.data(), &length) == 1;
    EVP_MD_CTX_free(context);
    if (!ok) return "0000000";
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < 4 && i < length; ++i) {
        text.push_back(hex[digest[i] >> 4]);
        text.push_back(hex[digest[i] & 15]);
    }
    text.pop_back();  // seven digits
    return text;
}

// git puts a tab after a name with a space in "---" and "+++" lines.
std::string fileLine(std::string_view marker, std::string_view name) {
    std::string line(marker);
    line.append(GitPatchText::quoted(name));
    if (name.find(' ') != std::string_view::npos) line.push_back('\t');
    line.push_back('\n');
    return line;
}

}  // namespace

std::string GitPatchText::quoted(std::string_view name) {
    auto needsQuotes = [](unsigned char c) { return c < 0x20 || c == '"' || c == '\\' || c >= 0x7f; };
    bool plain = true;
    for (char c : name) plain = plain && !needsQuotes(static_cast<unsigned char>(c));
    if (plain) return std::string(name);
    std::string text = "\"";
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\a':
                text += "\\a";
                break;
            case '\b':
                text += "\\b";
                break;
            case '\t':
                text += "\\t";
                break;
            case '\n':
                text += "\\n";
                break;
            case '\v':
                text += "\\v";
                break;
            case '\f':
                text += "\\f";
                break;
            case '\r':
                text += "\\r";
                break;
            case '"':
                text += "\\\"";
                break;
            case '\\':
                text += "\\\\";
                break;
            default:
                if (needsQuotes(byte)) {
                    text.push_back('\\');
                    text.push_back(static_cast<char>('0' + (byte >> 6)));
                    text.push_back(static_cast<char>('0' + ((byte >> 3) & 7)));
                    text.push_back(static_cast<char>('0' + (byte & 7)));
                } else {
                    text.push_back(c);
                }
        }
    }
    text.push_back('"');
    return text;
}

bool GitPatchText::looksBinary(std::string_view bytes) {
    return bytes.substr(0, 8000).find('\0') != std::string_view::npos;
}

GitPatchText::NewFile GitPatchText::newFile(std::string_view path, std::string_view mode,
                                            std::string_view bytes, bool overLimit) {
    const std::string oldName = "a/" + std::string(path);
    const std::string newName = "b/" + std::string(path);
    NewFile file;
    file.patch = "diff --git " + quoted(oldName) + " " + quoted(newName) + "\n";
    file.patch += "new file mode " + std::string(mode) + "\n";
    if (!overLimit) file.patch += "index 0000000.." + blobId(bytes) + "\n";
    if (bytes.empty() && !overLimit) return file;
    file.isBinary = overLimit || looksBinary(bytes);
    if (file.isBinary) {
        file.patch += "Binary files /dev/null and " + quoted(newName) + " differ\n";
        return file;
    }
    std::string body;
    body.reserve(bytes.size() + bytes.size() / 16 + 64);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        body.push_back('+');
        ++file.additions;
        if (end == std::string_view::npos) {
            body.append(bytes.substr(start));
            body.append("\n\\ No newline at end of file\n");
            break;
        }
        body.append(bytes.substr(start, end - start + 1));
        start = end + 1;
    }
    file.patch += "--- /dev/null\n";
    file.patch += fileLine("+++ ", newName);
    file.patch +=
        file.additions == 1 ? "@@ -0,0 +1 @@\n" : "@@ -0,0 +1," + std::to_string(file.additions) + " @@\n";
    file.patch += body;
    return file;
}

std::string GitPatchText::binaryNotice(std::string_view patchStart) {
    // Whole lines only: the cut may fall inside one.
    std::size_t lastBreak = patchStart.rfind('\n');
    patchStart =
        lastBreak == std::string_view::npos ? std::string_view() : patchStart.substr(0, lastBreak + 1);
    auto name = [](std::string_view line) {
        std::string_view rest = line.substr(4);
        if (rest.ends_with('\t')) rest.remove_suffix(1);
        return rest;
    };
    std::string notice;
    bool inHeader = false;
    std::optional<std::string_view> oldName;
    std::size_t start = 0;
    while (start < patchStart.size()) {
        std::size_t end = patchStart.find('\n', start);
        std::string_view line = patchStart.substr(start, end - start);
        start = end + 1;
        // Text lines start with ' ', '+', '-', '@' or '\\', so a line that opens a file is always one.
        if (line.starts_with("diff --git ") || line.starts_with("diff --cc ") ||
            line.starts_with("diff --combined ")) {
            inHeader = true;
            oldName.reset();
        } else if (!inHeader) {
            continue;
        } else if (line.starts_with("--- ")) {
            oldName = name(line);
            continue;
        } else if (line.starts_with("+++ ") && oldName) {
            notice.append("Binary files ").append(*oldName).append(" and ").append(name(line));
            notice.append(" differ\n");
            inHeader = false;
            continue;
        } else if (line.starts_with("@@")) {
            inHeader = false;
            continue;
        } else if (line.starts_with("Binary files ")) {
            inHeader = false;
        }
        notice.append(line).push_back('\n');
    }
    return notice;
}

}  // namespace pelko
