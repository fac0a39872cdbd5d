// The four kinds of message box the program shows.
//
// Information, warning and error boxes carry an OK button; a question asks Yes or No. The
// engine names a style when it asks its host for a box; the windows show it through the
// controls' prompt seam (controls/UserPrompt.h).
#pragma once

namespace kairelon {

enum class MessageBoxStyle { Information, Warning, Error, Question };

} // namespace kairelon
