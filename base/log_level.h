#pragma once

namespace Pellux {

// The levels of the system's log lines. The numbers are the system's own and travel with every
// line; the level filters nothing, and only a status line has an effect of its own: it also goes
// to the user interface of its context.
namespace LogLevel {

// What a user typed into a form (passwords masked).
inline constexpr int kUserInput = 0;
// A session, a base station or the engine starting, ending or changing hands.
inline constexpr int kLifecycle = 2;
// The steps of a session: requests, closes, settings, shutdown.
inline constexpr int kProgress = 3;
// Every packet and action as it passes.
inline constexpr int kTrace = 4;
// The radio's and the operations' own steps and outcomes.
inline constexpr int kDetail = 5;
// Something failed: a device, the link, a transfer, the server.
inline constexpr int kError = 6;
// Input that was refused or ignored, and warnings about it.
inline constexpr int kIgnored = 7;
// A status line: also shown to the user interface of the line's context.
inline constexpr int kStatus = 8;

}  // namespace LogLevel
}  // namespace Pellux
