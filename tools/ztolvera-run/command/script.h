// Script files as the runner hands them to job objects: UTF-16 text.
#pragma once

#include <string>

// Decodes a script file's bytes: UTF-8 with or without a byte-order mark, or
// UTF-16LE with its mark. False with the reason in `error` for anything else
// (UTF-16BE, malformed UTF-8, NUL characters, which would cut the job's text
// short).
bool decodeScript(const std::string& bytes, std::wstring& text, std::wstring& error);

// Reads and decodes a whole file; the error names neither the file nor the
// program, only what went wrong.
bool readScript(const std::wstring& path, std::wstring& text, std::wstring& error);

// The file name without its folders: the job name the agent would show.
std::wstring jobNameOf(const std::wstring& path);

// UTF-8 of a text, as the runner writes every output.
std::string utf8(const std::wstring& text);
