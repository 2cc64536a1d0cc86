#include "git/GitError.hpp"

namespace pelko {

std::string GitError::description() const {
    switch (kind_) {
        case Kind::launchFailed:
            return "Git コマンド起動に失敗: " + text_;
        case Kind::commandFailed:
            return text_.empty() ? "Git コマンドで不明なエラー" : text_;
        case Kind::authenticationFailed:
            return text_.empty() ? "GitHub 認証に失敗しました" : text_;
        case Kind::authenticationRequired:
            return "GitHub にサインインしてください";
    }
    return text_;
}

}  // namespace pelko
