// Script files as the runner hands them to job objects: UTF-16 text.
#pragma once

#include <string>
#include <vector>

// Decodes a script file's bytes as Windows users save them: UTF-8 with or
// without a byte-order mark, UTF-16LE with its mark, and otherwise the
// system's ANSI code page, as the platform's own script host reads a file
// without a mark (`ansi` is then set, for a note to the author). False with
// the reason in `error` for UTF-16BE and for NUL characters, which would cut
// the job's text short.
bool decodeScript(const std::string& bytes, std::wstring& text, std::wstring& error, bool* ansi = nullptr);

// Reads and decodes a whole file; the error names neither the file nor the
// program, only what went wrong ("is a folder, not a script file").
bool readScript(const std::wstring& path, std::wstring& text, std::wstring& error, bool* ansi = nullptr);

// The script names of the command line with each name that holds * or ?
// replaced by the files it matches, in name order: cmd.exe hands a pattern
// over as typed. Returns the patterns that matched no file (they are left out).
std::vector<std::wstring> expandWildcards(std::vector<std::wstring>& paths);

// The file name without its folders: the job name the agent would show.
std::wstring jobNameOf(const std::wstring& path);

// The platform's words for a system error code ("There is not enough space
// on the disk"), without the full stop and line end it comes with.
std::wstring systemMessage(unsigned long code);

// UTF-8 of a text, as the runner writes every output.
std::string utf8(const std::wstring& text);
// The text of UTF-8 bytes.
std::wstring fromUtf8(const std::string& text);
// A text in the ANSI code page, as the core's 8-bit strings are.
std::string ansi(const std::wstring& text);
