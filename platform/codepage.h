// The system's 8-bit ("ANSI") code page, in which the kit holds all its texts.
// On Windows it is the system's; elsewhere Windows-1252, unless
// ZENTROVA_CODEPAGE names another Windows code page (for example 1251).
#pragma once

#include <string>
#include <string_view>

namespace zentrova::platform {

// 0 when ZENTROVA_CODEPAGE is set but names no code page number.
unsigned AnsiCodePage();

// How a user chooses another code page, for the end of a warning about lost
// characters: "ZENTROVA_CODEPAGE names another code page" here, Windows'
// language setting for non-Unicode programs there.
const char* CodePageChoice();

// Conversions report characters the code page cannot hold: they become "?" and
// *lossy (when given) is set. They return false only when the conversion
// itself cannot run (an unknown code page, no memory).
bool Utf16ToAnsi(std::u16string_view in, std::string& out, bool* lossy = nullptr);
bool AnsiToUtf16(std::string_view in, std::u16string& out);

// Text in the user's locale character set (command-line arguments, usually UTF-8)
// to the ANSI code page.
bool LocaleToAnsi(std::string_view in, std::string& out, bool* lossy = nullptr);

// UTF-8 text (a configuration file written on Linux) to the ANSI code page.
bool Utf8ToAnsi(std::string_view in, std::string& out, bool* lossy = nullptr);

// Whether text is well-formed UTF-8 (plain ASCII is). A text that is not was
// written in some 8-bit code page, as files from Windows machines are.
bool IsUtf8(std::string_view text);

// ANSI text back to the locale's character set, for console output.
bool AnsiToLocale(std::string_view in, std::string& out);

}  // namespace zentrova::platform
