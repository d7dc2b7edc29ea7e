// The packaged application's company name, product name and version text, compiled in
// per executable by the build (and carried in its version information as well).
#pragma once

namespace osvari {

extern const wchar_t* const build_company_name;
extern const wchar_t* const build_product_name;
extern const wchar_t* const build_version_text;

}  // namespace osvari
