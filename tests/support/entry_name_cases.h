// Entry names and whether they are safe, one table for the launcher's check and the packing
// tool's, so that both are held to the same rules.
#pragma once

#include <string_view>

namespace osvari::testing {

struct EntryNameCase {
  std::u16string_view name;
  bool safe;
};

inline constexpr EntryNameCase entry_name_cases[] = {
    // Ordinary names, and near misses of the refused ones.
    {u"main.dll", true},
    {u"a\\b\\c.txt", true},
    {u".hidden", true},
    {u"..data", true},
    {u"a\\..b\\c", true},
    {u"a b.txt", true},
    {u"\u0416\\\u00e9.txt", true},
    {u"CONSOLE.txt", true},
    {u"NULL", true},
    {u"nul_x", true},
    {u"x.NUL", true},
    {u"COM10", true},
    {u"LPT", true},
    {u"COM\u2074", true},  // superscript four is no port
    // Reaching outside the unpack directory.
    {u"..", false},
    {u"..\\..\\x.dll", false},
    {u"a\\..", false},
    {u"\\x.dll", false},
    {u"C:x.dll", false},
    {u"x.dll:stream", false},
    // Empty and "." components.
    {u"", false},
    {u"a\\\\b", false},
    {u"a\\", false},
    {u".\\x", false},
    {u"a\\.\\b", false},
    // A forward slash: names use backslashes only.
    {u"a/b.txt", false},
    {u"/x.dll", false},
    {u"a/../../x.dll", false},
    // Devices, in any case, with an extension, trailing spaces or dots, in any component.
    {u"NUL", false},
    {u"nul.txt", false},
    {u"sub\\NUL", false},
    {u"CON\\x.txt", false},
    {u"AUX", false},
    {u"PRN", false},
    {u"COM1", false},
    {u"com1.log", false},
    {u"COM0", false},
    {u"Lpt9", false},
    {u"LPT1.txt", false},
    {u"NUL .txt", false},
    {u"nul.tar.gz", false},
    {u"CONIN$", false},
    {u"conout$.txt", false},
    {u"COM\u00b9", false},
    {u"lpt\u00b2.x", false},
    {u"Com\u00b3", false},
    // Names Windows would change: a trailing dot or space is dropped.
    {u"trail.", false},
    {u"trail ", false},
    {u"d.\\f", false},
    {u"x..", false},
    {u"...", false},
    // Characters Windows refuses in names.
    {u"a<b", false},
    {u"a>b", false},
    {u"a\"b", false},
    {u"a|b", false},
    {u"a?b", false},
    {u"a*b", false},
    {u"tab\tname", false},
    {u"\u0001", false},
    {u"x\u001f", false},
};

}  // namespace osvari::testing
