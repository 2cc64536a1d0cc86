#pragma once
// TerminalNativeInputMode: the input source the Eisu and Kana keys ask for.

namespace pelko {

enum class TerminalNativeInputMode { ascii, japanese };

}  // namespace pelko
