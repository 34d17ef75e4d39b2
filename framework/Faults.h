#pragma once
// Places where the platform can fail in ways that a test cannot bring about
// for real: a worker thread that cannot be created, an icon that cannot be
// loaded, a call into a DLL bound at run time that raises. A test arms a
// place for its next pass; the program never does, and then a check costs
// one atomic load.
#include <string_view>

namespace fw {

enum class TFaultSite {
    StartThread, // a worker thread is about to be created
    LoadIcon,    // an icon is about to be loaded
    LibraryCall, // a function bound at run time (GetProc) is about to be called; the tag is its name
};

// The next pass through ASite (with the tag ATag, when one is given) fails.
void ArmFault(TFaultSite ASite, std::string_view ATag = {});
// Forgets every armed fault.
void DisarmFaults() noexcept;
// Raises EOSError (out of memory) when ASite is armed for this pass.
void CheckFault(TFaultSite ASite, std::string_view ATag = {});

} // namespace fw
