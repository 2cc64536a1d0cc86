#pragma once
// GitPatchText: patch text written the way `git diff` writes it, for what git is not asked to read
// itself (an untracked file read through the project's descriptor) and for what is too large to send
// (answered as git answers a binary file). Pure; safe from any thread.
#include <cstdint>
#include <string>
#include <string_view>

namespace pelko {

struct GitPatchText {
    // git's quoting of a name in patch headers (core.quotePath): a name with a control character, '"',
    // '\\' or a byte of 0x80 or more goes in double quotes with C escapes (octal for the bytes).
    static std::string quoted(std::string_view name);

    // Whether git takes `bytes` for binary content: a NUL among its first 8,000 bytes.
    static bool looksBinary(std::string_view bytes);

    struct NewFile {
        std::string patch;
        std::int64_t additions = 0;
        bool isBinary = false;
    };
    // What `git diff --no-index /dev/null -- <path>` prints for a new file: `mode` is "100644", "100755"
    // or "120000" (a link, whose target is `bytes`). `overLimit`: the content was too large to hold and
    // `bytes` is empty; it is answered as binary, without an "index" line.
    static NewFile newFile(std::string_view path, std::string_view mode, std::string_view bytes,
                           bool overLimit = false);

    // The start of a patch answered as binary: every file's header lines are kept and its text changes
    // give way to git's "Binary files <old> and <new> differ". A last line cut short is dropped.
    static std::string binaryNotice(std::string_view patchStart);
};

}  // namespace pelko
