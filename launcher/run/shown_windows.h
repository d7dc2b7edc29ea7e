// What a windowed executable shows a person, as chosen when it was packed: a message box for a
// failure nobody could otherwise see, and a progress window while a long unpacking runs.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "payload/window_options.h"

namespace osvari {

// The record the packing tool wrote into the executable; the defaults when there is none.
const WindowOptions& own_window_options();

// The splash image given when packing, as given; empty when there is none.
std::span<const unsigned char> own_splash_image();

// The product name from the executable's version information, else its file name.
std::wstring window_title();

// The failure line in a message box for a person: only for a windowed executable whose
// standard output and standard error both lead nowhere (started from Explorer), and unless
// packed without it. The progress window, if one shows, closes first.
void show_failure_to_a_person(std::string_view line);

// Makes every failure exit from now on go through show_failure_to_a_person.
void install_failure_dialog();

}  // namespace osvari
