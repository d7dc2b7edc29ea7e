// Which folders this launcher made: the parent records each unpack or fill folder it creates,
// and only a recorded folder is ever swept. The record lives in the user's registry, outside
// the folder, so the application sees exactly its packed files there; it holds the folder's
// identity, so another folder put at a recorded name later is not taken for it.
#pragma once

#include <string>

namespace osvari {

// Records the folder at `path` (just created by this process) under its name.
void record_made_folder(const std::wstring& path);

// True when the folder at `path` is the one recorded under its name.
bool is_recorded_made_folder(const std::wstring& path);

// Drops the record of the folder named like `path`'s last component, once it is gone.
void forget_made_folder(const std::wstring& path);

}  // namespace osvari
