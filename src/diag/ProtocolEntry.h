// Protocol entries: the steps and outcomes of start-up, dialling and synchronising.
//
// An entry is a text and a kind (1 information, 2 warning, 3 error). Every writer hands its
// entries to a `ProtocolSink`, which the main window (or the headless host) provides as its
// `AddProtocolEntry`; the list model that keeps them lives with the engine.
#pragma once

#include <functional>
#include <string>

namespace kairelon {

constexpr int ekInformation = 1;
constexpr int ekWarning = 2;
constexpr int ekError = 3;

using ProtocolSink = std::function<void(const std::string& text, int kind)>;

} // namespace kairelon
