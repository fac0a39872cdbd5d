#include "controls/UserPrompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <utility>
#include <vector>

namespace kairelon {
namespace {

std::optional<PromptButton> nextAnswer;
std::function<PromptButton(const PromptRequest&)> answerFunction;
std::optional<PromptRequest> lastRequest;
int beepCount = 0;
int boxCount = 0;

PromptButtons ButtonsOf(const PromptRequest& request) {
    if (request.buttons != PromptButtons::ByStyle) {
        return request.buttons;
    }
    return request.style == MessageBoxStyle::Question ? PromptButtons::YesNo : PromptButtons::Ok;
}

QMessageBox::Icon IconOf(MessageBoxStyle style) {
    switch (style) {
    case MessageBoxStyle::Warning:
        return QMessageBox::Warning;
    case MessageBoxStyle::Error:
        return QMessageBox::Critical;
    case MessageBoxStyle::Question:
        return QMessageBox::Question;
    case MessageBoxStyle::Information:
        break;
    }
    return QMessageBox::Information;
}

struct ButtonLook {
    PromptButton button;
    const char* text;
    QMessageBox::ButtonRole role;
};

constexpr ButtonLook kOk{PromptButton::Ok, "OK", QMessageBox::AcceptRole};
constexpr ButtonLook kCancel{PromptButton::Cancel, "Abbrechen", QMessageBox::RejectRole};
constexpr ButtonLook kYes{PromptButton::Yes, "&Ja", QMessageBox::YesRole};
constexpr ButtonLook kNo{PromptButton::No, "&Nein", QMessageBox::NoRole};

std::vector<ButtonLook> LooksOf(PromptButtons buttons) {
    switch (buttons) {
    case PromptButtons::OkCancel:
        return {kOk, kCancel};
    case PromptButtons::YesNo:
        return {kYes, kNo};
    case PromptButtons::YesNoCancel:
        return {kYes, kNo, kCancel};
    case PromptButtons::Ok:
    case PromptButtons::ByStyle:
        break;
    }
    return {kOk};
}

} // namespace

PromptButton UserPrompt::MessageBox(QWidget* parent, const PromptRequest& request) {
    ++boxCount;
    lastRequest = request;
    if (nextAnswer) {
        const PromptButton answer = *nextAnswer;
        nextAnswer.reset();
        return answer;
    }
    if (answerFunction) {
        return answerFunction(request);
    }
    QMessageBox box(IconOf(request.style), QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), QMessageBox::NoButton, parent);
    const std::vector<ButtonLook> looks = LooksOf(ButtonsOf(request));
    // Escape and the close button choose Cancel, else No, else the only button (OK).
    const auto offers = [&looks](PromptButton b) {
        return std::any_of(looks.begin(), looks.end(),
                           [b](const ButtonLook& look) { return look.button == b; });
    };
    const PromptButton onEscape = offers(PromptButton::Cancel) ? PromptButton::Cancel
                                  : offers(PromptButton::No)   ? PromptButton::No
                                                               : PromptButton::Ok;
    std::vector<std::pair<QPushButton*, PromptButton>> made;
    for (const ButtonLook& look : looks) {
        QPushButton* button = box.addButton(QString::fromUtf8(look.text), look.role);
        made.emplace_back(button, look.button);
        if (request.defaultButton == look.button || (!request.defaultButton && made.size() == 1)) {
            box.setDefaultButton(button);
        }
        if (look.button == onEscape) {
            box.setEscapeButton(button);
        }
    }
    box.exec();
    for (const auto& [button, which] : made) {
        if (box.clickedButton() == button) {
            return which;
        }
    }
    return onEscape;
}

bool UserPrompt::MessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                            MessageBoxStyle style) {
    PromptRequest request{text, caption, style, PromptButtons::ByStyle, std::nullopt};
    if (style == MessageBoxStyle::Question) {
        request.defaultButton = PromptButton::No;
        return MessageBox(parent, request) == PromptButton::Yes;
    }
    MessageBox(parent, request);
    return true;
}

void UserPrompt::Beep() {
    ++beepCount;
    QApplication::beep();
}

void UserPrompt::SetNextAnswer(PromptButton answer) {
    nextAnswer = answer;
}
int UserPrompt::BeepCount() {
    return beepCount;
}
int UserPrompt::BoxCount() {
    return boxCount;
}
const std::optional<PromptRequest>& UserPrompt::LastRequest() {
    return lastRequest;
}

void UserPrompt::SetAnswerFunction(std::function<PromptButton(const PromptRequest&)> answer) {
    answerFunction = std::move(answer);
}

void UserPrompt::ResetForTesting() {
    answerFunction = nullptr;
    nextAnswer.reset();
    lastRequest.reset();
    beepCount = 0;
    boxCount = 0;
}

} // namespace kairelon
