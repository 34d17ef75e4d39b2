#pragma once
// COM for the calling thread, made ready on first need rather than at start:
// nothing at start uses it, and it costs the start time and memory. Call it
// before anything that may use COM (decoding a picture, asking the shell to
// open something); it stays until the thread ends.
namespace fw {

void NeedCom() noexcept;

} // namespace fw
