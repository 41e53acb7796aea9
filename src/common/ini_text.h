// INI text with the behaviour of the Windows private-profile calls
// (GetPrivateProfileStringA, WritePrivateProfileStringA), on the text of a
// file already in memory. No I/O.
//
// Reading:
// - Section and key names match without regard to (ASCII) case and to the
//   blanks and tabs around them: `[ Main ]` and ` server =` match Main, Server.
// - A section header is a line whose first non-blank character is `[` and
//   that holds a `]`; the name is the text between them. A key line holds a
//   `=`; the name is the text before the first `=`. Lines whose first
//   non-blank character is `;` are comments; other lines are no keys.
// - The value is the text after the first `=`, blanks and tabs removed from
//   both ends, then one pair of matching enclosing quotes (" or ') removed. A
//   `;` inside a value is part of it. `Key=` gives the empty text.
// - Of two sections of the same name only the first counts, and of two keys
//   of the same name in it only the first.
// - Lines end in CR LF, LF or a lone CR; the last line may have no end. A
//   UTF-8 byte order mark at the start of the text is skipped.
//
// Writing changes one line or adds lines and keeps every other byte:
// - An existing key: the old value is replaced where it stands; the line
//   keeps everything before the old value (indentation, the key's spelling,
//   the blanks around `=`) and its own line end. The new value follows the
//   `=` directly when the old value was empty and when the new one is empty
//   or begins with blanks, so that writing a value twice gives the text of
//   writing it once.
// - A new key: `Key=Value` after the last non-blank line of its section (so
//   after comments inside it, before blank lines that end it).
// - A missing section: `[Section]` and `Key=Value` at the end of the text.
// - New lines end like the first line of the text, CR LF when it has none.
//   A last line without an end gets one before anything is added after it.
// - Section, key and value are cut at their first CR or LF: one call writes
//   one line and cannot add sections or keys of its own.
//
// Files in UTF-16: a file that begins with the UTF-16 LE byte order mark
// (Notepad's "Unicode") holds its text in UTF-16, as the Windows profile calls
// read it. DecodeFile gives its text in UTF-8, to which the rules above
// apply as to any other; EncodeFile makes the file's bytes of it again. Any
// other file is its text byte for byte.
//
// Any input is safe: binary bytes and NUL are ordinary characters, and every
// function takes time linear in the size of the text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vel::ini {

// GetPrivateProfileString semantics on the file's text; nullopt when the section or key is missing.
std::optional<std::string> ReadValue(std::string_view content, std::string_view section, std::string_view key);

// What a profile read answers from a file's text: the stored value of `key`
// in `section`, nullopt when there is none. With `whole` false the text was
// cut at a size limit, and only its whole lines count (a line cut by the
// limit is dropped).
std::optional<std::string> ProfileValue(std::string_view text, bool whole, std::string_view section,
                                        std::string_view key);

// WritePrivateProfileString semantics on the file's text; returns the new text.
std::string WriteValue(std::string_view content, std::string_view section, std::string_view key,
                       std::string_view value);

enum class Encoding { Bytes, Utf16LE };

// A file's text and how its bytes hold it.
struct FileContent {
    Encoding encoding = Encoding::Bytes;
    // Bytes: the file as it is. Utf16LE: the text after the byte order mark
    // in UTF-8; a surrogate without its partner has its own three-byte form
    // (as in WTF-8), so that it comes back as it was.
    std::string text;
    std::string oddByte;  // Utf16LE: the last byte of a file of odd length, kept
};

// The text of a file's bytes; EncodeFile(DecodeFile(bytes)) == bytes.
FileContent DecodeFile(std::string_view bytes);

// The file's bytes for `content`: a UTF-16 file's mark, its text in UTF-16 LE
// (a byte that is no part of UTF-8 as U+FFFD) and its odd byte.
std::string EncodeFile(const FileContent& content);

// Why a file's bytes are no text these rules read, where they are not: a
// byte order mark of an encoding they do not read (UTF-16 big-endian,
// UTF-32), or NUL bytes (UTF-16 or UTF-32 without a mark, or no text at all).
// Empty for text they read (any single-byte text, UTF-8, UTF-16 LE with its
// mark).
std::string EncodingProblem(std::string_view bytes);

}  // namespace vel::ini
