// The UI thread's COM apartment: the shell's "open" (the help command) may
// hand the page to handlers that need COM on the calling thread.
#pragma once

#include <objbase.h>

namespace torvanel {

// Enters a single-threaded apartment for its lifetime. Leaves it only when the
// entry succeeded (S_FALSE, already entered, counts and must be balanced);
// after RPC_E_CHANGED_MODE the thread's other apartment is not its to end.
class ComApartment {
public:
    ComApartment()
        : entered_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (entered_) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool Entered() const { return entered_; }

private:
    bool entered_;
};

}  // namespace torvanel
