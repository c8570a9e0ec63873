// Points one of this test program's own import slots (the __imp_ pointer through which
// the saver's code calls a system function) at a replacement for a scope's lifetime,
// for the few things Wine cannot be made to do. The product is never touched.
#pragma once

#include <windows.h>

template <typename Function>
class ReplacedImport {
public:
    ReplacedImport(Function *slot, Function replacement) : slot(slot), original(*slot) { Write(replacement); }
    ~ReplacedImport() { Write(original); }

private:
    void Write(Function value)
    {
        DWORD protection = 0;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
        *slot = value;
        VirtualProtect(slot, sizeof *slot, protection, &protection);
    }
    Function *slot;
    Function original;
};
