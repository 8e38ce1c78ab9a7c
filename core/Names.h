// Name rules of stored images: "<prefix>--<rest>.png". The separator is the first "--".
#pragma once

#include <string>

constexpr const char* NAME_SEPARATOR = "--";

// Length of the prefix (after clear) or of prefix plus separator (after set); 0 when the name
// has no separator or nothing would be left on one side.
int SeparatorPos(const std::string& name, bool after);
// With after set: the part behind the first "--" (the whole name when there is none).
std::string NameAfterSeparator(const std::string& name, bool after);
// With after clear: the prefix without the "--" (empty when there is none).
std::string NameBeforeSeparator(const std::string& name, bool after);
// Deletes sub again and again, always the first remaining occurrence, until none is left.
std::string RemoveAll(const std::string& text, const std::string& sub);
// Trims blanks and replaces each of \ / : * ? " < > | by "_".
std::string SanitizeChars(const std::string& text);
// SanitizeChars, every "--" removed, "MyPicture" when nothing is left, "--" appended on request.
std::string SanitizeName(const std::string& text, bool addSeparator);
// text cut to at most maxBytes bytes without splitting a UTF-8 sequence.
std::string NameCutUtf8(const std::string& text, size_t maxBytes);
// prefix + "--" + rest within maxBytes: the extension of rest stays, at least NAME_KEEP_MIN
// characters of the picture's own name remain (the prefix is cut first), no cut splits a UTF-8
// sequence. Two pictures whose names differ early therefore never get one stored name.
constexpr size_t NAME_KEEP_MIN = 32;
std::string NameJoinPrefix(const std::string& prefix, const std::string& rest, size_t maxBytes);
