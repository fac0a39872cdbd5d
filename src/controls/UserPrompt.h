// Message boxes and beeps of the windows and controls.
//
// Every message box the program shows and every beep it sounds goes through `UserPrompt`, so
// tests can answer a box before it opens (`SetNextAnswer`, used once) and count the beeps. A
// box has one of the four styles of `MessageBoxStyle`: information, warning and error boxes
// show "OK", a question shows "&Ja" and "&Nein" with the default button the caller names (the
// program's questions default to No). The box's caption is the caller's text.
#pragma once

#include "framework/MessageBoxStyle.h"

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace kairelon {

enum class PromptButton { Ok, Cancel, Yes, No };

// The buttons a box offers; the default set follows the style.
enum class PromptButtons { ByStyle, Ok, OkCancel, YesNo, YesNoCancel };

struct PromptRequest {
    std::string text;
    std::string caption;
    MessageBoxStyle style = MessageBoxStyle::Information;
    PromptButtons buttons = PromptButtons::ByStyle;
    std::optional<PromptButton> defaultButton; // none: the first button
};

class UserPrompt {
public:
    // Shows a modal box and returns the button chosen; Escape or closing the box gives
    // Cancel, or No when the box has no Cancel button.
    static PromptButton MessageBox(QWidget* parent, const PromptRequest& request);
    // The engine's form: true when a question is answered Yes; other boxes give true.
    static bool MessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                           MessageBoxStyle style);
    // The system's default beep.
    static void Beep();

    // Test seam. The next box is not shown: it is recorded and answered with `answer`.
    static void SetNextAnswer(PromptButton answer);
    static int BeepCount();
    static int BoxCount();                                    // boxes asked for (shown or not)
    static const std::optional<PromptRequest>& LastRequest(); // the box most recently asked for
    static void ResetForTesting(); // clears the counters, the last box and a pending answer
    // Test seam: while set, no box is shown; each is recorded and answered by `answer` (after
    // a pending SetNextAnswer). ResetForTesting clears it.
    static void SetAnswerFunction(std::function<PromptButton(const PromptRequest&)> answer);
};

} // namespace kairelon
