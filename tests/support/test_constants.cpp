// The application identity that unit tests link in place of a launcher's generated one.
#include "base/build_constants.h"

namespace osvari {

const wchar_t* const build_company_name = L"Test Company";
const wchar_t* const build_product_name = L"Test Product";
const wchar_t* const build_version_text = L"1.2.3-test";

}  // namespace osvari
