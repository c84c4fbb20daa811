// QzVal on any counted string, and QzNumberText of what it reads.

#include "fuzz_support.h"

#include "runtime/shortstring.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ShortString s = ShortString::FromBytes(data, size);
    const double x = QzVal(s);
    const ShortString text = QzNumberText(x);
    // The text of a finite number reads back as a finite number.
    if (std::isfinite(x) && !std::isfinite(QzVal(text)))
        std::abort();
    return 0;
}
