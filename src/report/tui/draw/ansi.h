// The terminal escape sequences the dashboard writes, by name.
//
// Every sequence is spelled once here, as a string-literal macro. Most of
// them sit inside printf formats and theme tables next to other text, and
// only a macro can join an adjacent literal at compile time
// (" " SGR_FG_WHITE "Tested" SGR_RESET is one literal). Where code hands a
// lone sequence around as a value (frame_puts, a colour chosen by a
// function), it uses the k-constant of the same sequence, which is defined
// from the macro. So: macro inside a literal or a table, k-constant as an
// argument, and never the raw bytes in drawing code. The names with _FMT
// are printf formats and take their numbers as arguments.
#pragma once

// --- SGR: attributes and colours -------------------------------------------

#define SGR_RESET "\033[0m"
#define SGR_BOLD "\033[1m"
#define SGR_REVERSE "\033[7m"

// 16-colour foregrounds.
#define SGR_FG_BLACK "\033[30m"
#define SGR_FG_GREEN "\033[32m"
#define SGR_FG_YELLOW "\033[33m"
#define SGR_FG_BLUE "\033[34m"
#define SGR_FG_MAGENTA "\033[35m"
#define SGR_FG_CYAN "\033[36m"
#define SGR_FG_WHITE "\033[37m"
#define SGR_FG_BRIGHT_BLACK "\033[90m"
#define SGR_FG_BRIGHT_RED "\033[91m"
#define SGR_FG_BRIGHT_GREEN "\033[92m"
#define SGR_FG_BRIGHT_YELLOW "\033[93m"
#define SGR_FG_BRIGHT_CYAN "\033[96m"
#define SGR_FG_BRIGHT_WHITE "\033[97m"

// 16-colour backgrounds.
#define SGR_BG_GREEN "\033[42m"
#define SGR_BG_YELLOW "\033[43m"
#define SGR_BG_BLUE "\033[44m"
#define SGR_BG_CYAN "\033[46m"
#define SGR_BG_BRIGHT_BLACK "\033[100m"
#define SGR_BG_BRIGHT_RED "\033[101m"
#define SGR_BG_BRIGHT_GREEN "\033[102m"
#define SGR_BG_BRIGHT_CYAN "\033[106m"
#define SGR_BG_BRIGHT_WHITE "\033[107m"

// Bold and a 16-colour foreground in one sequence.
#define SGR_BOLD_BLACK "\033[1;30m"
#define SGR_BOLD_RED "\033[1;31m"
#define SGR_BOLD_GREEN "\033[1;32m"
#define SGR_BOLD_YELLOW "\033[1;33m"
#define SGR_BOLD_MAGENTA "\033[1;35m"
#define SGR_BOLD_CYAN "\033[1;36m"
#define SGR_BOLD_WHITE "\033[1;37m"
#define SGR_BOLD_BRIGHT_RED "\033[1;91m"
#define SGR_BOLD_BRIGHT_YELLOW "\033[1;93m"
// Bold and a foreground code given as an int (kSgrGreen and the others below).
#define SGR_BOLD_FG_FMT "\033[1;%dm"

// 256-colour foreground and background; n is a palette index written as a
// number: SGR_FG256(208) is "\033[38;5;208m".
#define SGR_FG256(n) "\033[38;5;" #n "m"
#define SGR_BG256(n) "\033[48;5;" #n "m"

// --- cursor and screen -----------------------------------------------------

#define TERM_CURSOR_HIDE "\033[?25l"
#define TERM_CURSOR_SHOW "\033[?25h"
#define TERM_CURSOR_HOME "\033[H"
// Cursor to row and column (both from 1).
#define TERM_GOTO_FMT "\033[%d;%dH"
// Cursor to a column of the current row (from 1).
#define TERM_COLUMN_FMT "\033[%dG"
#define TERM_CLEAR_SCREEN "\033[2J"
// From the cursor to the end of its line, and to the end of the screen.
#define TERM_CLEAR_LINE "\033[K"
#define TERM_CLEAR_BELOW "\033[J"
// Synchronized output: the terminal holds what comes between the two and
// shows it at once.
#define TERM_SYNC_BEGIN "\033[?2026h"
#define TERM_SYNC_END "\033[?2026l"

namespace dravik {

// Foreground codes for SGR_BOLD_FG_FMT, where the colour is chosen at run
// time.
inline constexpr int kSgrGreen = 32;
inline constexpr int kSgrYellow = 33;
inline constexpr int kSgrBrightRed = 91;
inline constexpr int kSgrBrightYellow = 93;

// The sequences passed around as values.
inline constexpr const char* kReset = SGR_RESET;
inline constexpr const char* kBoldWhite = SGR_BOLD_WHITE;
inline constexpr const char* kSyncBegin = TERM_SYNC_BEGIN;
inline constexpr const char* kSyncEnd = TERM_SYNC_END;
inline constexpr const char* kCursorHide = TERM_CURSOR_HIDE;
inline constexpr const char* kCursorHome = TERM_CURSOR_HOME;
inline constexpr const char* kClearBelow = TERM_CLEAR_BELOW;
// A blank screen with the cursor home.
inline constexpr const char* kClearScreenHome = TERM_CLEAR_SCREEN TERM_CURSOR_HOME;

}  // namespace dravik
