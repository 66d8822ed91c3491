#include "ShellExtract.h"

HRESULT CreateExtractImage(const std::string &, void **out)
{
    if (out)
        *out = nullptr;
    return E_NOINTERFACE;
}
